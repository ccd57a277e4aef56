## PointCloudIndex's knnsearch and rangesearch against a brute force that
## sorts all the distances stably, on integer grids with duplicated points,
## where ties are everywhere; and the gates' forms of covariances.

%!function [rows, d] = stable_sorted (X, q)
%!  d2 = ((X(:, 1) - q(1)) .^ 2 + (X(:, 2) - q(2)) .^ 2) + (X(:, 3) - q(3)) .^ 2;
%!  [~, rows] = sort (d2);  # Octave's sort is stable
%!  rows = rows(isfinite (d2(rows)))';
%!  d = sqrt (d2(rows))';
%!endfunction

%!test
%! rand ("seed", 3);
%! X = randi ([0 4], 600, 3);
%! X(50:50:600, :) = X(1:12, :);          # duplicated points
%! X([7 300], 2) = NaN;                    # rows left out of the index
%! P = PointCloudIndex (X);
%! Y = [randi([0 4], 40, 3) + 0.5 * randi([0 1], 40, 3); NaN 1 1];
%! for K = [1 3 8 30]
%!   [idx, D] = knnsearch (P, Y, "K", K, "Distance", "euclidean");
%!   [tidx, tD] = knnsearch (P, Y, "K", K, "IncludeTies", true);
%!   for i = 1:rows (Y) - 1
%!     [r, d] = stable_sorted (X, Y(i, :));
%!     assert (idx(i, :), r(1:K));
%!     assert (D(i, :), d(1:K));
%!     ties = d <= d(K);
%!     assert (tidx{i}, r(ties));
%!     assert (tD{i}, d(ties));
%!   endfor
%!   assert (idx(end, :), 1:K);
%!   assert (D(end, :), NaN (1, K));
%!   assert (tidx{end}, 1:K);
%! endfor
%! assert (size (knnsearch (P, zeros (0, 3), "K", 2)), [0 2]);
%! assert (size (knnsearch (P, zeros (0, 3), "IncludeTies", 1)), [0 1]);

%!test
%! ## Points exactly at the radius are in; the order is free without sorting.
%! rand ("seed", 4);
%! X = randi ([0 3], 300, 3);
%! X(5, 1) = Inf;
%! P = PointCloudIndex (single (X));
%! Y = [randi([0 3], 25, 3); NaN 0 0; 100 100 100];
%! for r = [0 1 sqrt(2) 1.5]
%!   [idx, D] = rangesearch (P, Y, r);
%!   [uidx, uD] = rangesearch (P, Y, r, "SortIndices", false);
%!   for i = 1:rows (Y)
%!     [rr, d] = stable_sorted (X, Y(i, :));
%!     inside = d <= r;
%!     assert (idx{i}, rr(inside));
%!     assert (D{i}, d(inside));
%!     [~, o] = sort (uidx{i});
%!     [~, sorted] = sort (idx{i});
%!     assert ([uidx{i}(o); uD{i}(o)], [idx{i}(sorted); D{i}(sorted)]);
%!   endfor
%!   assert (size (idx{end - 1}), [1 0]);
%! endfor
%! [idx, D] = rangesearch (P, zeros (0, 3), 1);
%! assert (size (idx), [0 1]);
%! ## Results of more than 2^20 values in all, which Octave's cells are
%! ## made from a stretch at a time, the same as each query's on its own.
%! Y = repmat ([0 0 0; 1 2 3; NaN 0 0], 2000, 1);
%! [idx, D] = rangesearch (P, Y, 100);
%! [tidx, tD] = knnsearch (P, Y, "K", 299, "IncludeTies", true);
%! assert (size (idx), [6000 1]);
%! assert (numel ([idx{:}]), 4000 * 299);
%! for i = [1:3 2995:3003 5998:6000]
%!   [one, oneD] = rangesearch (P, Y(i, :), 100);
%!   [oneTies, oneTiesD] = knnsearch (P, Y(i, :), "K", 299, "IncludeTies", true);
%!   assert ({idx{i}, D{i}, tidx{i}, tD{i}}, {one{1}, oneD{1}, oneTies{1}, oneTiesD{1}});
%! endfor
%! for bad = {-1, NaN, Inf, [1 2], "a"}
%!   try
%!     rangesearch (P, Y, bad{1});
%!     error ("no error");
%!   catch err
%!     assert (err.identifier, "PointCloudIndex:badR");
%!   end_try_catch
%! endfor
%! for opts = {{"Distance", "cityblock"}, {"IncludeTies", 2}, {"SortIndices", "yes"}, {"P", 3}}
%!   try
%!     if (strcmp (opts{1}{1}, "IncludeTies"))
%!       knnsearch (P, Y, opts{1}{:});
%!     else
%!       rangesearch (P, Y, 1, opts{1}{:});
%!     endif
%!     error ("no error");
%!   catch err
%!     assert (err.identifier, "PointCloudIndex:badOption");
%!   end_try_catch
%! endfor

%!test
%! ## gmdistribution's forms of Sigma give the gate of their 3 x 3 x G form.
%! rand ("seed", 5);
%! G = 6;
%! means = rand (G, 3) * 4;
%! pts = [means(randi (G, 400, 1), :) + randn(400, 3) * 0.5];
%! ids = randi ([0 G], 400, 3);
%! shared = [0.5 0.1 0; 0.1 0.4 0; 0 0 0.2];
%! diagonals = rand (1, 3, G) + 0.1;
%! full = zeros (3, 3, G);
%! for g = 1:G
%!   full(:, :, g) = diag (diagonals(1, :, g));
%! endfor
%! for form = {{repmat(shared, 1, 1, G), shared}, {full, diagonals}, {repmat(diag([0.3 0.2 0.1]), 1, 1, G), [0.3 0.2 0.1]}}
%!   [in, up, labels] = gateAndCluster (pts, ids, means, form{1}{1}, 1.5, 2.5);
%!   [in2, up2, labels2] = gateAndCluster (pts, ids, means, form{1}{2}, 1.5, 2.5);
%!   assert (isequal (in, in2) && isequal (up, up2) && isequal (labels, labels2));
%!   assert (isequal (gaussianGate (pts, ids, means, form{1}{1}, 2), gaussianGate (pts, ids, means, form{1}{2}, 2)));
%! endfor
%! try
%!   gaussianGate (pts, ids, means, ones (2, 3, G), 2);
%!   error ("no error");
%! catch err
%!   assert (err.identifier, "gaussianGate:badCovs");
%! end_try_catch

%!test
%! ## The layer answers for itself: missing arguments and a deleted index.
%! P = PointCloudIndex (rand (20, 3));
%! calls = {{@() knnsearch (P), "PointCloudIndex:tooFewInputs"}, ...
%!          {@() rangesearch (P, [0 0 0]), "PointCloudIndex:tooFewInputs"}, ...
%!          {@() gaussianGate (rand (4, 3), ones (4, 1), rand (1, 3), eye (3)), "gaussianGate:tooFewInputs"}, ...
%!          {@() gateAndCluster (rand (4, 3), ones (4, 1), rand (1, 3), eye (3), 1), "gateAndCluster:tooFewInputs"}};
%! for k = 1:numel (calls)
%!   try
%!     calls{k}{1} ();
%!     error ("no error for call %d", k);
%!   catch err
%!     assert (err.identifier, calls{k}{2});
%!   end_try_catch
%! endfor
%! delete (P);
%! try
%!   knnsearch (P, [0 0 0]);
%!   error ("no error");
%! catch err
%!   assert (err.identifier, "PointCloudIndex:deleted");
%! end_try_catch
