## Objects, memory and the modules' static state across many calls, across
## clearing the modules and across the host's exit.

%!test
%! ## 10,000 init/delete cycles leave the process's memory where it was.
%! rand ("seed", 1);
%! pts = rand (3, 2000);
%! q = rand (3, 100);
%! for m = {"tessary", "corvane"}
%!   for k = 1:200
%!     h = new_object (m{1}, pts);
%!     free_object (m{1}, h);
%!   endfor
%!   before = resident_kib ();
%!   for k = 1:10000
%!     h = new_object (m{1}, pts);
%!     if (strcmp (m{1}, "tessary"))
%!       [idx, d2] = tessary ("do", h, "knnsearch", q, 3);
%!     endif
%!     free_object (m{1}, h);
%!   endfor
%!   after = resident_kib ();
%!   printf ("%s: resident memory %d KiB before and %d KiB after 10000 cycles\n", m{1}, before, after);
%!   assert (after - before < 2048);
%!   assert (! mislocked (m{1}));
%! endfor

%!test
%! ## Failing calls after an object exists free nothing and leak nothing.
%! h = new_object ("tessary", rand (3, 1000));
%! before = resident_kib ();
%! for k = 1:5000
%!   try
%!     [i, d] = tessary ("do", h, "knnsearch", rand (3, 10), -1);
%!   catch
%!   end_try_catch
%!   try
%!     g = tessary ("init", [rand(3, 50), [NaN; 0; 0]]);
%!   catch
%!   end_try_catch
%! endfor
%! after = resident_kib ();
%! assert (after - before < 2048);
%! [i, d] = tessary ("do", h, "knnsearch", zeros (3, 1), 1);
%! assert (i >= 1 && i <= 1000);
%! free_object ("tessary", h);
%! assert (! mislocked ("tessary"));

%!test
%! ## Clearing unlocked modules, clearing everything with live objects, and
%! ## exiting with live objects end cleanly.
%! code = ["evalc ('h = tessary (''init'', rand (3, 100)); ok = tessary (''delete'', h);');\n", ...
%!         "evalc ('c = corvane (''init'', rand (3, 1)); ok = corvane (''delete'', c);');\n", ...
%!         "clear tessary corvane\n", ...
%!         "evalc ('h = tessary (''init'', rand (3, 100)); c = corvane (''init'', rand (3, 1));');\n", ...
%!         "clear all\n", ...
%!         "assert (mislocked ('tessary') && mislocked ('corvane'));\n", ...
%!         "evalc ('g = tessary (''init'', rand (3, 100)); [i, d] = tessary (''do'', g, ''knnsearch'', rand (3, 4), 2);');\n", ...
%!         "disp ('reached the end');\n"];
%! [status, output] = run_octave (code);
%! assert (status, 0, output);
%! assert (strtrim (output), "reached the end");
