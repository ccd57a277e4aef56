## kib = resident_kib ()
## The resident memory of this process in KiB.
function kib = resident_kib ()
  status = fileread ("/proc/self/status");
  kib = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
endfunction
