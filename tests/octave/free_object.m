## free_object (module, h)
## "delete" without its status line in the test log.
function free_object (module, h)
  evalc ("ok = feval (module, 'delete', h);");
  assert (ok, true);
endfunction
