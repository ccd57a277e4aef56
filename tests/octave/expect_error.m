## expect_error (f, nout, id, text)
## Calls f with nout outputs and checks that it raises the error with
## identifier id and the text text after the module's name.
function expect_error (f, nout, id, text)
  try
    if (nout == 0)
      f ();
    else
      out = cell (1, nout);
      [out{:}] = f ();
    endif
  catch err
    assert (err.identifier, id);
    module = strtok (id, ":");
    assert (err.message, [module ": " text]);
    return;
  end_try_catch
  error ("expect_error: no error was raised; expected %s", id);
endfunction
