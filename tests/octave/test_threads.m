## The outputs do not depend on the number of threads.

%!test
%! code = ["rand ('seed', 11);\n", ...
%!         "pts = randi ([0 40], 3, 200000);\n", ...
%!         "q = [randi([0 40], 3, 50000), rand(3, 50000) * 40];\n", ...
%!         "evalc ('h = tessary (''init'', pts);');\n", ...
%!         "[idx, d2] = tessary ('do', h, 'knnsearch', q, 6);\n", ...
%!         "save ('-binary', getenv ('RESULT_FILE'), 'idx', 'd2');\n"];
%! files = {};
%! for threads = [1 2 3]
%!   files{end+1} = [tempname() ".bin"];
%!   [status, output] = run_octave (code, sprintf ("OMP_NUM_THREADS=%d RESULT_FILE=%s", threads, files{end}));
%!   assert (status, 0, output);
%! endfor
%! one = load (files{1});
%! for k = 2:numel (files)
%!   other = load (files{k});
%!   assert (isequal (one.idx, other.idx) && isequal (one.d2, other.d2));
%! endfor
%! cellfun (@delete, files);
