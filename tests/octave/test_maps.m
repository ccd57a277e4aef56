## voxelGaussians and densityClusters against plain scripts of the same
## definitions, on the scan and on cases built for their edges.

%!function X = scan ()
%!  root = fileparts (fileparts (fileparts (which ("test_maps"))));
%!  fid = fopen (fullfile (root, "data", "kitti_hdl64_000000.f64"), "r", "ieee-le");
%!  X = fread (fid, [3 Inf], "double")';
%!  fclose (fid);
%!endfunction

%!function [means, covs, counts] = script_voxels (X, s, minPoints)
%!  X = X(all (isfinite (X), 2), :);
%!  [~, ~, j] = unique (floor (X / s), "rows");
%!  counts = accumarray (j, 1);
%!  keep = find (counts >= minPoints);
%!  counts = counts(keep);
%!  means = zeros (numel (keep), 3);
%!  covs = zeros (3, 3, numel (keep));
%!  for t = 1:numel (keep)
%!    P = X(j == keep(t), :);
%!    means(t, :) = mean (P, 1);
%!    if (rows (P) > 1)  # cov of a single row is that of a vector
%!      covs(:, :, t) = cov (P);
%!    endif
%!  endfor
%!endfunction

## DBSCAN with linear-scan region queries, visiting the rows in order.
%!function idx = script_dbscan (X, epsilon, minpts)
%!  n = rows (X);
%!  idx = zeros (n, 1);  # 0: not visited
%!  last = 0;
%!  region = @(i) find (sqrt (((X(:, 1) - X(i, 1)) .^ 2 + (X(:, 2) - X(i, 2)) .^ 2) + (X(:, 3) - X(i, 3)) .^ 2) <= epsilon)';
%!  for i = 1:n
%!    if (idx(i) != 0)
%!      continue;
%!    endif
%!    seeds = region (i);
%!    if (numel (seeds) < minpts)
%!      idx(i) = -1;
%!      continue;
%!    endif
%!    idx(i) = ++last;
%!    while (! isempty (seeds))
%!      c = seeds(end);
%!      seeds(end) = [];
%!      if (idx(c) == -1)
%!        idx(c) = last;
%!      endif
%!      if (idx(c) != 0)
%!        continue;
%!      endif
%!      idx(c) = last;
%!      nb = region (c);
%!      if (numel (nb) >= minpts)
%!        seeds = [seeds, nb];
%!      endif
%!    endwhile
%!  endfor
%!endfunction

%!test
%! ## The scan at 2 m, as the demo's script did it; NaN rows left out, single
%! ## and pointCloud inputs alike, MinPoints keeping the fuller voxels.
%! X = scan ();
%! X(7:7:70, 2) = NaN;
%! [means, covs, counts] = voxelGaussians (X, 2);
%! [m, c, n] = script_voxels (X, 2, 6);
%! assert (counts, n);
%! assert (means, m, 1e-12);
%! assert (covs, c, 1e-12);
%! [m1, c1, n1] = voxelGaussians (pointCloud (single (X)), 2, "MinPoints", 1);
%! [m, c, n] = script_voxels (double (single (X)), 2, 1);
%! assert (n1, n);
%! assert (m1, m, 1e-12);
%! assert (c1, c, 1e-12);
%! [~, ~, n20] = voxelGaussians (X, 2, "minpoints", 20);
%! assert (n20, counts(counts >= 20));
%! ## Keys too far apart to pack into one number, ordered all the same.
%! far = [1e15 -1e15 0; 0 0 0.5; -1e15 1e15 0; 0 0 0; 1e15 -1e15 0];
%! [means, ~, counts] = voxelGaussians (far, 1, "MinPoints", 1);
%! assert ([means, counts], [-1e15 1e15 0 1; 0 0 0.25 2; 1e15 -1e15 0 2]);
%! [means, covs, counts] = voxelGaussians (zeros (0, 3), 1);
%! assert (size (means), [0 3]);
%! assert (size (covs), [3 3 0]);
%! assert (size (counts), [0 1]);

%!test
%! ## A tight voxel 80 m away keeps the digits that one pass of sums of
%! ## squares would cancel; one point gives a zero covariance.
%! randn ("seed", 5);
%! P = 80.5 + 1e-3 * randn (50, 3);
%! [means, covs] = voxelGaussians ([P; 3.5 3.5 3.5], 1, "MinPoints", 1);
%! assert (covs(:, :, 1), zeros (3));
%! expected = cov (P - 80.5);
%! assert (covs(:, :, 2), expected, 1e-9 * max (abs (expected(:))));
%! assert (means(2, :), mean (P), 1e-12);

%!test
%! ## The scan against the script, with two sets of parameters.
%! X = scan ()(1:37:end, :);
%! for p = [0.75 5; 2 12]'
%!   [idx, corepts] = densityClusters (X, p(1), p(2));
%!   assert (idx, script_dbscan (X, p(1), p(2)));
%!   counts = sum (sqrt (((X(:, 1) - X(:, 1)') .^ 2 + (X(:, 2) - X(:, 2)') .^ 2) + (X(:, 3) - X(:, 3)') .^ 2) <= p(1), 2);
%!   assert (corepts, counts >= p(2));
%! endfor

%!test
%! ## A point exactly epsilon away is a neighbour, one a rounding step
%! ## farther is not; NaN rows are noise and change nothing; a border point
%! ## between two clusters joins the one numbered first, in both row orders.
%! X = [0 0 0; 0.5 0 0; 3 0 0; 3.5 + eps(3.5) 0 0; NaN 0 0];
%! [idx, corepts] = densityClusters (X, 0.5, 2);
%! assert ([idx, corepts], [1 1; 1 1; -1 0; -1 0; -1 0]);
%! A = [0 0 0; -0.5 0 0; -0.5 0 0; -0.5 0 0; -0.5 0 0];
%! B = [1.4 0 0; 1.9 0 0; 1.9 0 0; 1.9 0 0; 1.9 0 0];
%! border = [0.7 0 0];
%! [idx, corepts] = densityClusters ([A; B; border], 0.75, 5);
%! assert (idx', [1 1 1 1 1 2 2 2 2 2 1]);
%! assert (corepts', [true(1, 10), false]);
%! idx = densityClusters ([B; A; border], 0.75, 5);
%! assert (idx', [1 1 1 1 1 2 2 2 2 2 1]);
%! [idx, corepts] = densityClusters (zeros (0, 3), 1, 1);
%! assert (size (idx), [0 1]);
%! assert (size (corepts), [0 1]);

%!test
%! ## At both ends of epsilon's range the rule and the script agree on a
%! ## lattice of steps near epsilon, some pairs exactly epsilon apart; beyond
%! ## them epsilon is refused, where a square would overflow or underflow.
%! rand ("seed", 3);
%! for e = [1e-150 1e150]
%!   X = e * (0.25 * floor (16 * rand (60, 3)));
%!   assert (densityClusters (X, e, 3), script_dbscan (X, e, 3));
%! endfor
%! assert (densityClusters ([5.5e149 0 0; 1.05e150 0 0], 1e150, 2), [1; 1]);
%! bad = {@() densityClusters ([5.5e299 0 0; 1.05e300 0 0], 1e300, 2), @() densityClusters (zeros (2, 3), 1e-151, 2)};
%! for k = 1:2
%!   try
%!     bad{k} ();
%!     error ("no error for case %d", k);
%!   catch err
%!     assert (err.identifier, "densityClusters:badEpsilon");
%!   end_try_catch
%! endfor
%! try
%!   tessary ("do", zeros (1, 4, "uint8"), "densityClusters", [5.5e299 0 0; 1.05e300 0 0], 1e300, 2);
%!   error ("no error");
%! catch err
%!   assert (err.identifier, "tessary:outsideRange");
%! end_try_catch
%! ## A voxel of two points near the largest double: its mean is finite.
%! means = voxelGaussians ([1.7e308 0 0; 1.6e308 0 0], 1e308, "MinPoints", 1);
%! assert (means, [1.65e308 0 0], eps (1.65e308));

%!test
%! ## Every bad argument, with its identifier.
%! X = rand (10, 3);
%! bad = {{@() voxelGaussians (X(:, 1:2), 1), "voxelGaussians:badX"}, ...
%!        {@() voxelGaussians (sparse (X), 1), "voxelGaussians:badX"}, ...
%!        {@() voxelGaussians (X * 1i, 1), "voxelGaussians:badX"}, ...
%!        {@() voxelGaussians ({X}, 1), "voxelGaussians:badX"}, ...
%!        {@() voxelGaussians (X, 0), "voxelGaussians:badVoxelSize"}, ...
%!        {@() voxelGaussians (X, NaN), "voxelGaussians:badVoxelSize"}, ...
%!        {@() voxelGaussians (X, Inf), "voxelGaussians:badVoxelSize"}, ...
%!        {@() voxelGaussians (X, [1 2]), "voxelGaussians:badVoxelSize"}, ...
%!        {@() voxelGaussians (X, 1, "MinPoints", 2.5), "voxelGaussians:badMinPoints"}, ...
%!        {@() voxelGaussians (X, 1, "MinPoints", 0), "voxelGaussians:badMinPoints"}, ...
%!        {@() voxelGaussians (X, 1, "MaxPoints", 2), "voxelGaussians:badOption"}, ...
%!        {@() voxelGaussians (X, 1, "MinPoints"), "voxelGaussians:badOption"}, ...
%!        {@() voxelGaussians (X), "voxelGaussians:tooFewInputs"}, ...
%!        {@() voxelGaussians (X * 1e300, 1e-300), "voxelGaussians:keyOutOfRange"}, ...
%!        {@() densityClusters ([X, X(:, 1)], 1, 5), "densityClusters:badX"}, ...
%!        {@() densityClusters (X, -1, 5), "densityClusters:badEpsilon"}, ...
%!        {@() densityClusters (X, NaN, 5), "densityClusters:badEpsilon"}, ...
%!        {@() densityClusters (X, 1 + 1i, 5), "densityClusters:badEpsilon"}, ...
%!        {@() densityClusters (X, 1, 2.5), "densityClusters:badMinpts"}, ...
%!        {@() densityClusters (X, 1, 0), "densityClusters:badMinpts"}, ...
%!        {@() densityClusters (X, 1), "densityClusters:tooFewInputs"}, ...
%!        {@() densityClusters ([X; 1e12 0 0], 1, 5), "densityClusters:keyOutOfRange"}};
%! for k = 1:numel (bad)
%!   try
%!     bad{k}{1} ();
%!     error ("no error for case %d", k);
%!   catch err
%!     assert (err.identifier, bad{k}{2}, sprintf ("case %d: %s", k, err.message));
%!   end_try_catch
%! endfor
%! assert (! mislocked ("tessary"));
