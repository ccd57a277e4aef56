## Random calls of every kind: each returns or raises one of the module's
## own errors, the host survives, and nothing stays locked. FUZZ_CALLS sets
## the number of calls per module (20,000 unless given).

%!function n = calls ()
%!  n = str2double (getenv ("FUZZ_CALLS"));
%!  if (isnan (n))
%!    n = 20000;
%!  endif
%!endfunction

%!test
%! fuzz_calls ("tessary", calls (), 1);

%!test
%! fuzz_calls ("corvane", calls (), 2);
