## Objects, memory and the modules' static state across many calls, across
## clearing the modules and across the host's exit.

%!test
%! ## A soak: 10,000 cycles of "init" over 10,000 points, "knnsearch", "kd"
%! ## and "delete" leave the resident memory within 1 % (or 2 MB) of where
%! ## it was after the first hundred cycles.
%! rand ("seed", 1);
%! pts = rand (3, 10000) * 20;
%! q = pts(:, 1:500) + 0.01;
%! means = pts(:, 1:50);
%! covs = repmat (reshape (0.1 * eye (3), 9, 1), 1, 50);
%! ids = randi (50, 3, 500);
%! for k = 1:10000
%!   h = new_object ("tessary", pts);
%!   [idx, d2] = tessary ("do", h, "knnsearch", q, 3);
%!   [in, up, labels] = tessary ("do", h, "kd", q, ids, means, covs, 2, 3);
%!   free_object ("tessary", h);
%!   if (k == 100)
%!     before = resident_kib ();
%!   endif
%! endfor
%! after = resident_kib ();
%! printf ("soak: resident memory %d KiB after 100 cycles, %d KiB after 10000\n", before, after);
%! assert (after - before <= max (2048, 0.01 * before));
%! assert (! mislocked ("tessary"));

%!test
%! ## corvane: 10,000 init/delete cycles.
%! for k = 1:200
%!   free_object ("corvane", new_object ("corvane", zeros (3, 10)));
%! endfor
%! before = resident_kib ();
%! for k = 1:10000
%!   free_object ("corvane", new_object ("corvane", zeros (3, 10)));
%! endfor
%! after = resident_kib ();
%! printf ("corvane: resident memory %d KiB before and %d KiB after 10000 cycles\n", before, after);
%! assert (after - before < 2048);
%! assert (! mislocked ("corvane"));

%!function failing_calls (h, count)
%!  for k = 1:count
%!    try
%!      [i, d] = tessary ("do", h, "knnsearch", rand (3, 10), -1);
%!    catch
%!    end_try_catch
%!    try
%!      g = tessary ("init", [rand(3, 50), [NaN; 0; 0]]);
%!    catch
%!    end_try_catch
%!    try
%!      in = tessary ("do", h, "kd2", rand (3, 10), [ones(3, 9), [1; 1; 9]], rand (3, 1), ones (9, 1), 1);
%!    catch
%!    end_try_catch
%!  endfor
%!  ## An allocation too large to make ends in an error and leaks nothing.
%!  for k = 1:3
%!    try
%!      [i, d] = tessary ("do", h, "knnsearch", zeros (3, 1e4), 2e9);
%!    catch
%!    end_try_catch
%!  endfor
%!endfunction

%!test
%! ## Failing calls after an object exists free nothing and leak nothing.
%! ## The host's own error handling takes 2 to 3 MB on its first errors:
%! ## those come before the measurement.
%! h = new_object ("tessary", rand (3, 1000));
%! failing_calls (h, 5000);
%! before = resident_kib ();
%! failing_calls (h, 5000);
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
