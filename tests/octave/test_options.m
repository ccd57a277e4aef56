## The users' layer's name-value options, as MATLAB's own functions take
## them: names as character vectors or string scalars (string.m stands in
## for MATLAB's), any case, an unambiguous leading part; and the options
## its functions gained: gateAndCluster's clustering, densityClusters in 1
## and 2 dimensions, PointCloudIndex's constructor options.

%!test
%! ## Each name in every form a caller may write it, for every function.
%! X = [0 0 0; 1 0 0; 0 2 0; 3 3 3];
%! Y = [0.9 0 0; 0 1.5 0];
%! P = PointCloudIndex (X);
%! [i1, d1] = knnsearch (P, Y, 'K', 2);
%! [i2, d2] = knnsearch (P, Y, 'k', 2, 'dist', 'EUCLIDEAN');
%! [i3, d3] = knnsearch (P, Y, string ("K"), 2, string ("Distance"), string ("euclidean"));
%! assert ({i2, d2, i3, d3}, {i1, d1, i1, d1});
%! [r1, e1] = rangesearch (P, Y, 1.5, 'SortIndices', false);
%! [r2, e2] = rangesearch (P, Y, 1.5, string ("sort"), false);
%! assert ({r2, e2}, {r1, e1});
%! assert (sort (r1{1}), [1 2]);
%! m = voxelGaussians (X, 2, 'MinPoints', 2);
%! assert (voxelGaussians (X, 2, string ("minpoints"), 2), m);
%! expect_identifier (@() knnsearch (P, Y, 'Kay', 2), "PointCloudIndex:badOption");
%! expect_identifier (@() knnsearch (P, Y, '', 2), "PointCloudIndex:badOption");
%! expect_identifier (@() knnsearch (P, Y, 3, 2), "PointCloudIndex:badOption");
%! expect_identifier (@() voxelGaussians (X, 2, string ("Min"), 2, 'x'), "voxelGaussians:badOption");

%!test
%! ## gateAndCluster: today's labels at the defaults, given or not; at other
%! ## values densityClusters' labels of the rejected rows.
%! rand ("seed", 4);
%! points = [10 * rand(300, 3); 0.2 * rand(40, 3) + 20];
%! means = [5 5 5];
%! ids = ones (rows (points), 1);
%! [in, ~, labels] = gateAndCluster (points, ids, means, eye (3), 2, 3);
%! [~, ~, again] = gateAndCluster (points, ids, means, eye (3), 2, 3, 'Epsilon', 0.75, 'minpoints', 5);
%! assert (again, labels);
%! [in2, ~, other] = gateAndCluster (points, ids, means, eye (3), 2, 3, string ("Epsilon"), 1.2, 'MinPoints', 8);
%! assert (in2, in);
%! assert (other(in), zeros (sum (in), 1));
%! assert (other(! in), densityClusters (points(! in, :), 1.2, 8));
%! assert (max (other) >= 1);
%! expect_identifier (@() gateAndCluster (points, ids, means, eye (3), 2, 3, 'Epsilon', 0), "gateAndCluster:badEpsilon");
%! expect_identifier (@() gateAndCluster (points, ids, means, eye (3), 2, 3, 'MinPoints', 1.5), "gateAndCluster:badMinPoints");
%! expect_identifier (@() gateAndCluster (points, ids, means, eye (3), 2, 3, 'Radius', 1), "gateAndCluster:badOption");

%!test
%! ## densityClusters on the plane and on a line: the labels of the points
%! ## with the missing coordinates 0; more columns are refused.
%! rand ("seed", 5);
%! X = 3 * rand (200, 2);
%! [idx, core] = densityClusters (X, 0.5, 5);
%! [idx3, core3] = densityClusters ([X, zeros(200, 1)], 0.5, 5);
%! assert ({idx, core}, {idx3, core3});
%! assert (densityClusters (single (X(:, 1)), 0.1, 4), densityClusters ([X(:, 1), zeros(200, 2)], 0.1, 4));
%! expect_identifier (@() densityClusters (rand (5, 4), 1, 2), "densityClusters:badX");

%!test
%! ## PointCloudIndex takes KDTreeSearcher's Distance and BucketSize, which
%! ## change no answer; anything else gets a PointCloudIndex identifier.
%! rand ("seed", 6);
%! X = rand (500, 3);
%! Y = rand (20, 3);
%! [i1, d1] = knnsearch (PointCloudIndex (X), Y, 'K', 4);
%! [i2, d2] = knnsearch (PointCloudIndex (X, 'Distance', 'euclidean', string ("bucket"), 3), Y, 'K', 4);
%! assert ({i2, d2}, {i1, d1});
%! expect_identifier (@() PointCloudIndex (X, 'BucketSize', 0), "PointCloudIndex:badBucketSize");
%! expect_identifier (@() PointCloudIndex (X, 'Distance', 'cityblock'), "PointCloudIndex:badOption");
%! expect_identifier (@() PointCloudIndex (X, 'Leaf', 10), "PointCloudIndex:badOption");
%! expect_identifier (@() PointCloudIndex (X, 10), "PointCloudIndex:badOption");
