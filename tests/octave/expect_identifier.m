## expect_identifier (f, id)
## Calls f and checks that it raises an error with identifier id.
function expect_identifier (f, id)
  try
    f ();
  catch err
    assert (err.identifier, id);
    return;
  end_try_catch
  error ("expect_identifier: no error was raised; expected %s", id);
endfunction
