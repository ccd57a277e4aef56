## The users' layer: PointCloudIndex, gaussianGate, gateAndCluster, the
## stubs and the help texts, in MATLAB's orientation (points as rows).

%!function check_against_brute_force (X, Y, K)
%!  ## Each row's neighbours are the K nearest valid rows of X, nearest
%!  ## first, at their Euclidean distances.
%!  P = PointCloudIndex (X);
%!  [idx, D] = knnsearch (P, Y, "K", K);
%!  pts = double (P.X);
%!  valid = find (all (isfinite (pts), 2));
%!  k = min (K, numel (valid));
%!  assert (size (idx), [rows(double (Y)), k]);
%!  assert (size (D), size (idx));
%!  for i = 1:rows (Y)
%!    d = sqrt (sum (bsxfun (@minus, pts(valid, :), double (Y(i, :))) .^ 2, 2));
%!    [s, order] = sort (d);
%!    assert (idx(i, :), valid(order(1:k))');
%!    assert (D(i, :), s(1:k)', 1e-12);
%!  endfor
%!endfunction

%!test
%! ## Plain matrices, double and single, against brute force; K defaults to
%! ## 1, and larger K than the index holds gives Count columns.
%! rand ("seed", 7);
%! X = rand (400, 3) * 10;
%! Y = rand (30, 3) * 10;
%! check_against_brute_force (X, Y, 4);
%! check_against_brute_force (single (X), single (Y), 1);
%! check_against_brute_force (X(1:5, :), Y, 9);
%! P = PointCloudIndex (X);
%! assert (isscalar (P) && P.Count == 400 && isequal (P.X, X));
%! [idx1, D1] = knnsearch (P, Y);
%! [idx4, D4] = knnsearch (P, Y, "k", 4);
%! assert ([idx1, D1], [idx4(:, 1), D4(:, 1)]);
%! assert (knnsearch (P, Y, "K", int8 (4)), idx4);
%! assert (strtrim (evalc ("disp (P)")), "PointCloudIndex of 400 points");

%!test
%! ## An organised pointCloud with invalid points: they are never
%! ## neighbours, numbers are linear indices into the cloud, and a query
%! ## with NaN gets 1:k at NaN, one with Inf 1:k at Inf.
%! rand ("seed", 8);
%! L = rand (20, 15, 3);
%! L(3, 4, :) = NaN;
%! L(7, 1, 2) = Inf;
%! L(1, 1, 1) = NaN;
%! C = pointCloud (L);
%! P = PointCloudIndex (C);
%! assert (P.Count, 297);
%! assert (P.X, reshape (L, [], 3));
%! Y = [rand(10, 3); NaN 0.5 0.5; Inf 0 0; 0 -Inf 1];
%! check_against_brute_force (C, Y(1:10, :), 5);
%! [idx, D] = knnsearch (P, pointCloud (Y), "K", 3);
%! assert (idx(11:13, :), repmat (1:3, 3, 1));
%! assert (D(11:13, :), [NaN NaN NaN; Inf Inf Inf; Inf Inf Inf]);
%! assert (all (isfinite (D(1:10, :))(:)));

%!test
%! ## An empty index, and what a failed argument leaves behind: nothing.
%! E = PointCloudIndex ();
%! [idx, D] = knnsearch (E, rand (4, 3), "K", 2);
%! assert (size (idx), [4 0]);
%! assert (size (D), [4 0]);
%! assert (PointCloudIndex (NaN (3, 3)).Count, 0);
%! P = PointCloudIndex (rand (10, 3));
%! expect_identifier (@() PointCloudIndex (rand (3, 4)), "PointCloudIndex:badX");
%! expect_identifier (@() PointCloudIndex ({1}), "PointCloudIndex:badX");
%! expect_identifier (@() knnsearch (P, rand (2, 2)), "PointCloudIndex:badY");
%! expect_identifier (@() knnsearch (P, rand (2, 3), "K", 0), "PointCloudIndex:badK");
%! expect_identifier (@() knnsearch (P, rand (2, 3), "K", 1.5), "PointCloudIndex:badK");
%! expect_identifier (@() knnsearch (P, rand (2, 3), "Distance", "cityblock"), "PointCloudIndex:badOption");
%! expect_identifier (@() knnsearch (P, rand (2, 3), "K"), "PointCloudIndex:badOption");
%! clear P E
%! assert (! mislocked ("tessary"));

%!test
%! ## saveobj and loadobj: the copy is a new, independent index with the
%! ## same results. (Octave cannot save classdef objects; MATLAB's save and
%! ## load and parfor call these two.)
%! rand ("seed", 9);
%! X = [rand(200, 3); NaN 1 1];
%! Y = rand (20, 3);
%! P = PointCloudIndex (X);
%! [idx, D] = knnsearch (P, Y, "K", 3);
%! s = saveobj (P);
%! assert (isstruct (s) && isequal (fieldnames (s), {"X"}));
%! Q = PointCloudIndex.loadobj (s);
%! clear P
%! assert (mislocked ("tessary"));
%! [idxQ, DQ] = knnsearch (Q, Y, "K", 3);
%! assert (idxQ, idx);
%! assert (DQ, D);
%! assert (Q.Count, 200);
%! clear Q
%! assert (! mislocked ("tessary"));

%!test
%! ## A copy whose handle names nothing of the module loaded now is let go
%! ## without an error.
%! code = ["P = PointCloudIndex (rand (10, 3));\n", ...
%!         "munlock ('tessary'); clear tessary\n", ...
%!         "clear P\n", ...
%!         "disp ('let go');\n"];
%! [status, output] = run_octave (code);
%! assert (status, 0, output);
%! assert (strtrim (output), "let go");

%!test
%! ## The gates in MATLAB's orientation give the module's results, labels
%! ## one per point as dbscan numbers them.
%! rand ("seed", 10);
%! means = [rand(40, 3) * 20; 100 100 100];
%! G = rows (means);
%! covs = zeros (3, 3, G);
%! for g = 1:G
%!   A = rand (3) - 0.5;
%!   covs(:, :, g) = A * A' + 0.05 * eye (3);
%! endfor
%! pts = [rand(300, 3) * 20; bsxfun(@plus, 0.1 * rand (12, 3), [50 50 50]); bsxfun(@plus, 0.1 * rand (9, 3), [60 50 50])];
%! M = PointCloudIndex (means);
%! ids = knnsearch (M, pts, "K", 3);
%! ids(5, 2:3) = 0;
%! [in, up, labels] = gateAndCluster (single (pts), ids, means, single (covs), 2, 3);
%! [in0, up0, labels0] = tessary ("do", zeros (1, 4, "uint8"), "kd", pts', ids', means', reshape (covs, 9, G), 2, 3);
%! assert (in, in0');
%! assert (up, up0');
%! expected = zeros (rows (pts), 1);
%! expected(! in0) = labels0 + 1;
%! assert (labels, expected);
%! assert (any (labels == -1) && max (labels) >= 2 && all (labels(in) == 0));
%! strict = gaussianGate (pts, ids(:, 1:2), means, covs, 2);
%! assert (strict, tessary ("do", zeros (1, 4, "uint8"), "kd2", pts', [ids(:, 1:2)'; zeros(1, rows (pts))], ...
%!                          means', reshape (covs, 9, G), 2)');
%! [in2, up2] = gateAndCluster (pts, ids, means, covs, 2, 3);
%! assert ([in2, up2], [in, up]);
%! bad = ids;
%! bad(7, 2) = G + 1;
%! try
%!   gaussianGate (pts, bad, means, covs, 2);
%!   error ("no error");
%! catch err
%!   assert (err.identifier, "gaussianGate:badIds");
%!   assert (err.message, sprintf ("gaussianGate: ids(7, 2) must be 0 (no candidate) or a Gaussian number from 1 to %d", G));
%! end_try_catch
%! expect_identifier (@() gateAndCluster (pts, ids, means, covs(:, :, 1:3), 2, 3), "gateAndCluster:badCovs");
%! expect_identifier (@() gaussianGate (pts, [ids, ids(:, 1)], means, covs, 2), "gaussianGate:badIds");
%! expect_identifier (@() gaussianGate (pts, ids, means, covs, [1 2]), "gaussianGate:badMahal");

%!test
%! ## The stubs: the module file beside them is the one called; without
%! ## one, calling the stub raises <module>:noModule.
%! for name = {"tessary", "corvane"}
%!   assert (strcmp (which (name{1})(end-3:end), ".mex"));
%! endfor
%! stubs = tempname ();
%! mkdir (stubs);
%! copyfile (strrep (which ("tessary"), ".mex", ".m"), stubs);
%! code = sprintf (["addpath ('%s');\n", ...
%!                  "try\n  h = tessary ('init', zeros (3, 0));\ncatch err\n  disp (err.identifier);\nend\n"], stubs);
%! [status, output] = run_octave (code);
%! confirm_recursive_rmdir (false, "local");
%! rmdir (stubs, "s");
%! assert (status, 0, output);
%! assert (strtrim (output), "tessary:noModule");

%!test
%! for name = {"tessary", "corvane", "PointCloudIndex", "gaussianGate", "gateAndCluster"}
%!   text = evalc (sprintf ("help %s", name{1}));
%!   assert (! isempty (strfind (text, [name{1} "  "])), ["no H1 line for " name{1}]);
%! endfor
%! text = evalc ("help tessary");
%! for fragment = {"3 x N double", "K x M double", "1 x N logical", "tessary:deadHandle", "badCandidate"}
%!   assert (! isempty (strfind (text, fragment{1})), "help tessary lacks %s", fragment{1});
%! endfor
%! text = evalc ("help PointCloudIndex");
%! for fragment = {"parallel.pool.Constant", "kdtreesearcher.knnsearch.html", "M x 3"}
%!   assert (! isempty (strfind (text, fragment{1})), "help PointCloudIndex lacks %s", fragment{1});
%! endfor
