## "knnsearch" as users call it: against brute force, and its unusual cases.

%!function check_against_brute_force (pts, queries, K, idx, d2)
%!  N = columns (pts);
%!  assert (size (idx), [K, columns(queries)]);
%!  assert (size (d2), [K, columns(queries)]);
%!  for i = 1:columns (queries)
%!    [ref, same] = brute_knn (pts, queries(:,i), K);
%!    n = numel (ref);
%!    assert (d2(1:n,i), ref(:));
%!    for j = 1:n
%!      assert (any (idx(j,i) == same{j}));
%!    endfor
%!    assert (numel (unique (idx(1:n,i))), n);
%!    assert (idx(n+1:end,i), zeros (K - n, 1));
%!    assert (d2(n+1:end,i), Inf (K - n, 1));
%!  endfor
%!endfunction

%!test
%! rand ("seed", 42);
%! for N = [1 3 10 11 57 400]
%!   for grid = [false true]
%!     if (grid)
%!       pts = randi ([0 3], 3, N);   # many equal distances
%!       queries = randi ([0 3], 3, 30);
%!     else
%!       pts = rand (3, N);
%!       queries = rand (3, 30);
%!     endif
%!     h = new_object ("tessary", pts);
%!     for K = [1 3 N N+2]
%!       [idx, d2] = tessary ("do", h, "knnsearch", queries, K);
%!       check_against_brute_force (pts, queries, K, idx, d2);
%!     endfor
%!     free_object ("tessary", h);
%!   endfor
%! endfor

%!test
%! ## Five points, two queries, K = 3: nearest first, non-decreasing distances.
%! pts = [0 0 0; 1 0 0; 0 2 0; 5 5 5; 0 0 3]';
%! h = new_object ("tessary", pts);
%! [idx, d2] = tessary ("do", h, "knnsearch", [5 5 5; 0.1 0 0]', 3);
%! assert (idx(1,1), 4);
%! assert (d2(1,1), 0);
%! assert (idx(:,2), [1; 2; 3]);
%! assert (d2(:,2), [0.01; 0.81; 4.01], 1e-15);
%! assert (all (diff (d2) >= 0));
%! ## K is truncated toward zero.
%! [i29, d29] = tessary ("do", h, "knnsearch", [5 5 5]', 2.9);
%! [i2, d2b] = tessary ("do", h, "knnsearch", [5 5 5]', 2);
%! assert (i29, i2);
%! assert (d29, d2b);
%! ## No query points, or K = 0: empty results of the right shape.
%! [idx, d2] = tessary ("do", h, "knnsearch", zeros (3, 0), 4);
%! assert (size (idx), [4 0]);
%! assert (size (d2), [4 0]);
%! [idx, d2] = tessary ("do", h, "knnsearch", rand (3, 6), 0);
%! assert (size (idx), [0 6]);
%! assert (size (d2), [0 6]);
%! assert (class (idx), "double");
%! free_object ("tessary", h);

%!test
%! ## Slots that no point fills report number 0 at distance Inf.
%! h = new_object ("tessary", [1 2 3; 4 5 6]');
%! [idx, d2] = tessary ("do", h, "knnsearch", [1 2 3; NaN 0 0]', 4);
%! assert (idx, [1 0; 2 0; 0 0; 0 0]);
%! assert (d2, [0 Inf; 27 Inf; Inf Inf; Inf Inf]);
%! free_object ("tessary", h);
%! e = new_object ("tessary", zeros (3, 0));
%! [idx, d2] = tessary ("do", e, "knnsearch", rand (3, 2), 3);
%! assert (idx, zeros (3, 2));
%! assert (d2, Inf (3, 2));
%! free_object ("tessary", e);

%!test
%! ## One point: any query finds it.
%! h = new_object ("tessary", [1; 2; 3]);
%! [idx, d2] = tessary ("do", h, "knnsearch", [0 100 -7; 0 5 1; 0 0 2], 1);
%! assert (idx, [1 1 1]);
%! assert (d2, [14, 99^2 + 9 + 9, 64 + 1 + 1]);
%! free_object ("tessary", h);

%!test
%! ## Duplicates stay separate points, and the index keeps its own copy.
%! pts = [1 1 1; 1 1 1; 9 9 9]';
%! h = new_object ("tessary", pts);
%! pts(:) = 0;
%! [idx, d2] = tessary ("do", h, "knnsearch", [1 1 1]', 3);
%! assert (sort (idx(1:2)), [1; 2]);
%! assert (idx(3), 3);
%! assert (d2, [0; 0; 192]);
%! free_object ("tessary", h);

%!test
%! ## An object stays intact while others come and go.
%! rand ("seed", 3);
%! pts = rand (3, 500);
%! q = rand (3, 50);
%! h = new_object ("tessary", pts);
%! [idx0, d0] = tessary ("do", h, "knnsearch", q, 5);
%! for k = 1:50
%!   g = new_object ("tessary", rand (3, 100));
%!   [~, ~] = tessary ("do", g, "knnsearch", q, 2);
%!   free_object ("tessary", g);
%! endfor
%! [idx1, d1] = tessary ("do", h, "knnsearch", q, 5);
%! assert (idx1, idx0);
%! assert (d1, d0);
%! free_object ("tessary", h);
%! assert (! mislocked ("tessary"));

%!test
%! ## The results are arrays the host made for the call: a caller's own
%! ## functions named zeros or false are not the ones called, and the results
%! ## of one call are not shared with those of the next.
%! pts = [0 1 2 3 4 5 6; 0 0 0 0 0 0 9; 0 0 0 0 0 0 0];
%! far = 10 + [0:0.1:0.6; zeros(2, 7)];   # one dense cluster, far from every mean
%! covs = [1; 0; 0; 0; 1; 0; 0; 0; 1] * ones (1, 7);
%! ids = [1:7; 1:7; 1:7];
%! h = new_object ("tessary", pts);
%! dir = tempname ();
%! mkdir (dir);
%! for name = {"zeros", "false"}
%!   fid = fopen (fullfile (dir, [name{1} ".m"]), "w");
%!   fprintf (fid, "function varargout = %s (varargin)\n  error ('shadow:called', 'called');\nendfunction\n", name{1});
%!   fclose (fid);
%! endfor
%! warning ("off", "Octave:shadowed-function", "local");
%! addpath (dir);
%! unwind_protect
%!   [i1, d1] = tessary ("do", h, "knnsearch", pts, 2);
%!   i1(:) = -1;
%!   d1(:) = -1;
%!   [i2, d2] = tessary ("do", h, "knnsearch", pts, 2);
%!   [in, inUpper, labels] = tessary ("do", uint8 ([0 0 0 0]), "kd", pts, ids, pts, covs, 0.5, 0.5);
%!   [farIn, farUpper, farLabels] = tessary ("do", uint8 ([0 0 0 0]), "kd", far, ids, pts, covs, 0.5, 0.5);
%!   strict = tessary ("do", uint8 ([0 0 0 0]), "kd2", pts, ids, pts, covs, 0.5);
%! unwind_protect_cleanup
%!   rmpath (dir);
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (dir, "s");
%! end_unwind_protect
%! free_object ("tessary", h);
%! assert (i2(1,:), 1:7);
%! assert (d2(1,:), [0 0 0 0 0 0 0]);
%! assert (class (in), "logical");
%! assert ([in; inUpper; strict], true (3, 7));
%! assert (size (labels), [1 0]);
%! assert (farIn | farUpper, logical ([0 0 0 0 0 0 0]));
%! assert (farLabels, [0 0 0 0 0 0 0]);
