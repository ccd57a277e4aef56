## h = new_object (module, pts)
## "init" without its status line in the test log.
function h = new_object (module, pts)
  evalc ("h = feval (module, 'init', pts);");
endfunction
