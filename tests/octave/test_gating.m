## "kd" and "kd2" as users call them.

%!shared h, I9, kd, kd2
%! h = new_object ("tessary", zeros (3, 0));
%! I9 = reshape (eye (3), 9, 1);
%! kd = @(varargin) tessary ("do", h, "kd", varargin{:});
%! kd2 = @(varargin) tessary ("do", h, "kd2", varargin{:});

%!test
%! ## Distances along x under the identity covariance are |x - mean|.
%! means = [1.5 0 0; 0.5 0 0; 3 0 0]';
%! covs = repmat (I9, 1, 3);
%! pts = zeros (3, 3);
%! ids = [1 2 3; 3 3 2; 3 3 3]';         # distances (1.5 .5 3), (3 3 .5), (3 3 3)
%! [in, up, labels] = kd (pts, ids, means, covs, 1, 2);
%! assert (in, logical ([0 1 0]));
%! assert (up, logical ([1 1 0]));
%! assert (labels, [-2 -2]);
%! assert (kd2 (pts, ids, means, covs, 1), logical ([1 1 0]));
%! ## mahalUpper below mahal: both masks agree.
%! [in, up] = kd (pts, ids, means, covs, 2, 1);
%! assert (in, up);

%!test
%! ## A distance equal to the threshold fails: diag(4,1,1), point (2,0,0) is at exactly 1.
%! c = reshape (diag ([4 1 1]), 9, 1);
%! [in, up] = kd ([2; 0; 0], [1; 1; 1], [0; 0; 0], c, 1, 1);
%! assert ([in up], [false false]);
%! assert (kd2 ([2; 0; 0], [1; 1; 1], [0; 0; 0], c, 1 + eps), true);

%!test
%! ## An all-zero covariance and a missing candidate (id 0) fail both gates;
%! ## the next row is tried.
%! means = zeros (3, 2);
%! covs = [zeros(9, 1), I9];
%! assert (kd2 ([0.5 0.5; 0 0; 0 0], [1 0; 1 0; 2 2], means, covs, 1), [true true]);
%! assert (kd2 ([0.5; 0; 0], [1; 0; 1], means, covs, 1), false);
%! assert (kd2 ([0; 0; 0], [0; 0; 0], means, covs, 1), false);

%!test
%! ## No points: empty outputs of the right classes and shapes.
%! [in, up, labels] = kd (zeros (3, 0), zeros (3, 0), zeros (3, 0), zeros (9, 0), 1, 2);
%! assert (size (in), [1 0]);
%! assert (islogical (in) && islogical (up));
%! assert (size (labels), [1 0]);
%! assert (class (labels), "double");
%! assert (size (kd2 (zeros (3, 0), zeros (3, 0), zeros (3, 0), zeros (9, 0), 1)), [1 0]);

%!test
%! ## Rejected points are clustered in increasing column order.
%! far = [100; 0; 0];
%! pts = [zeros(3, 5) + [0 0.1 0.2 0.3 0.4; zeros(2, 5)], far, [50; 50; 50] + zeros(3, 5)];
%! n = columns (pts);
%! [in, up, labels] = kd (pts, ones (3, n), far, I9, 0.5, 0.5);
%! assert (in, [false(1, 5), true, false(1, 5)]);
%! assert (labels, [0 0 0 0 0 1 1 1 1 1]);
%! ## Fewer outputs skip the clustering and set only what was asked for.
%! [in1, up1] = kd (pts, ones (3, n), far, I9, 0.5, 0.5);
%! assert ([in1; up1], [in; up]);
%! assert (kd (pts, ones (3, n), far, I9, 0.5, 0.5), in);

%!test
%! ## The object behind the handle is not read: the all-zero handle works.
%! z = uint8 ([0 0 0 0]);
%! assert (tessary ("do", z, "kd2", [1; 0; 0], [1; 1; 1], [0; 0; 0], I9, 2), true);
%! [in, up, labels] = tessary ("do", z, "kd", [1; 0; 0], [1; 1; 1], [0; 0; 0], I9, 0.5, 2);
%! assert ([in up], [false true]);
%! assert (labels, -2);

%!test
%! p = zeros (3, 2); i = ones (3, 2); m = zeros (3, 1); c = I9;
%! id = @(s) ["tessary:" s];
%! expect_error (@() kd (p, i, m, c, 1), 1, id ("inputCount"), "There must be 9 input argument(s) (not 8).");
%! expect_error (@() kd2 (p, i, m, c, 1, 2), 1, id ("inputCount"), "There must be 8 input argument(s) (not 9).");
%! expect_error (@() kd2 (p(1:2,:), i, m, c, 1), 1, id ("rowCount"), "Argument points must have 3 rows (not 2)");
%! expect_error (@() kd2 (p, i(1:2,:), m, c, 1), 1, id ("rowCount"), "Argument ids must have 3 rows (not 2)");
%! expect_error (@() kd2 (p, i, [m; 0], c, 1), 1, id ("rowCount"), "Argument means must have 3 rows (not 4)");
%! expect_error (@() kd2 (p, i, m, c(1:3), 1), 1, id ("rowCount"), "Argument covs must have 9 rows (not 3)");
%! expect_error (@() kd2 (p, int8 (i), m, c, 1), 1, id ("wrongClass"), "Argument ids must be of DOUBLE class");
%! expect_error (@() kd2 (p, i, m, sparse (c), 1), 1, id ("sparse"), "Argument covs must not be sparse.");
%! expect_error (@() kd2 (p, i, m, c, [1 2]), 1, id ("notScalar"), "Argument mahal must be a scalar.");
%! expect_error (@() kd (p, i, m, c, 1, {2}), 1, id ("wrongClass"), "Argument mahalUpper must be of DOUBLE class");
%! expect_error (@() kd (p, i, m, c, 1, 2i), 1, id ("complex"), "Argument mahalUpper must not be complex.");

%!test
%! ## The limits the loop relies on are checked before anything is computed.
%! p = zeros (3, 2); i = ones (3, 2); m = zeros (3, 2); c = [I9 I9];
%! id = @(s) ["tessary:" s];
%! expect_error (@() kd2 (p, i(:,1), m, c, 1), 1, id ("tooFewColumns"), "Argument ids must have at least 2 columns (not 1).");
%! expect_error (@() kd2 (p, i, m, c(:,1), 1), 1, id ("columnMismatch"), ...
%!               "Argument covs must have as many columns as means (2, not 1).");
%! msg = @(r, col) sprintf ("Argument ids row %d column %d must be 0 (no candidate) or a Gaussian number from 1 to 2.", r, col);
%! for bad = [3, -1, NaN, Inf, 2^40]
%!   q = i; q(2, 2) = bad;
%!   expect_error (@() kd2 (p, q, m, c, 1), 1, id ("badCandidate"), msg (2, 2));
%!   expect_error (@() kd (p, q, m, c, 1, 2), 3, id ("badCandidate"), msg (2, 2));
%! endfor
%! ## Columns of ids beyond the points are not read.
%! assert (kd2 (p, [i, [NaN; 7; -3]], m, c, 1), [true true]);
%! expect_error (@() kd (p, i, m, c, 1, 2), 4, id ("outputCount"), "There must be 3 output argument(s) (not 4).");
%! expect_error (@() kd2 (p, i, m, c, 1), 2, id ("outputCount"), "There must be 1 output argument(s) (not 2).");

%!error id=tessary:badCandidate tessary ("do", uint8 ([0 0 0 0]), "kd2", zeros (3, 1), [1; 1; 5], zeros (3, 1), zeros (9, 1), 1)

%!test
%! free_object ("tessary", h);
