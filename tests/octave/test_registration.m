## registerToMap as users call it: the real pairs from their known pose
## perturbed, the forms of its arguments, and its errors.

%!function P = cloud (name)
%!  root = fileparts (fileparts (fileparts (which ("test_registration"))));
%!  fid = fopen (fullfile (root, "data", name), "r", "ieee-le");
%!  P = fread (fid, [3 Inf], "double")';
%!  fclose (fid);
%!endfunction

%!function R = turn (w)
%!  t = norm (w);
%!  K = [0 -w(3) w(2); w(3) 0 -w(1); -w(2) w(1) 0] / max (t, eps);
%!  R = eye (3) + sin (t) * K + (1 - cos (t)) * K * K;
%!endfunction

%!function [metres, degrees] = pose_error (T, G)
%!  E = G \ T;
%!  metres = norm (E(1:3, 4));
%!  degrees = acosd (min (1, (trace (E(1:3, 1:3)) - 1) / 2));
%!endfunction

## From the known pose perturbed by up to 0.5 m and 5 degrees: within the
## pose's own accuracy.
%!test
%! pairs = {"hdl32_fastgicp", 1, 0.05, 0.2; "kitti07_f10_f25", 2, 0.10, 0.3};
%! rand ("seed", 3);
%! for p = 1:rows (pairs)
%!   A = cloud (fullfile ("pairs", [pairs{p, 1} "_a.f64"]));
%!   B = cloud (fullfile ("pairs", [pairs{p, 1} "_b.f64"]));
%!   G = dlmread (fullfile (fileparts (fileparts (fileparts (which ("test_registration")))), "data", "pairs", ...
%!                          [pairs{p, 1} "_T_ab.txt"]));
%!   [means, covs] = voxelGaussians (A, pairs{p, 2});
%!   for k = 1:4
%!     w = rand (3, 1) - 0.5;
%!     w *= rand * 5 * pi / 180 / norm (w);
%!     v = rand (3, 1) - 0.5;
%!     v *= rand * 0.5 / norm (v);
%!     start = [turn(w), v; 0 0 0 1] * G;
%!     [T, info] = registerToMap (B, means, covs, "InitialTransform", start);
%!     [metres, degrees] = pose_error (T, G);
%!     assert (info.converged);
%!     assert (metres < pairs{p, 3} && degrees < pairs{p, 4}, sprintf ("%s: %g m, %g deg", pairs{p, 1}, metres, degrees));
%!   endfor
%! endfor

## Argument forms: single, a point cloud, rows left out, the
## outputs' shapes; the distances are the gate's.
%!test
%! A = cloud (fullfile ("pairs", "kitti07_f10_f25_a.f64"));
%! [means, covs] = voxelGaussians (A, 2);
%! scan = A(1:5000, :) + [0.2 -0.1 0];
%! scan(7, :) = NaN;
%! [T, info] = registerToMap (single (scan), means, covs, "maxiter", 50, "Tol", [1e-4 1e-3]);
%! assert (size (T), [4 4]);
%! assert (T(4, :), [0 0 0 1]);
%! assert (norm (T(1:3, 4) - [-0.2; 0.1; 0]) < 0.02);
%! assert (class (info.converged), "logical");
%! assert (size (info.hessian), [6 6]);
%! assert (info.hessian, info.hessian');
%! assert (size (info.distances), [5000 1]);
%! assert (isnan (info.distances(7)));
%! assert (sum (isnan (info.distances)), 1);
%! [T2, info2] = registerToMap (pointCloud (single (scan)), means, covs, "maxiter", 50, "Tol", [1e-4 1e-3]);
%! assert (isequal (T2, T) && isequaln (info2, info));
%! assert (isequal (registerToMap (single (scan), means, covs, "maxiter", 50, "Tol", [1e-4 1e-3]), T));
%! moved = [scan ones(5000, 1)] * T';
%! ids = knnsearch (PointCloudIndex (means), moved(:, 1:3), "K", 3);
%! in = gaussianGate (moved(:, 1:3), ids, means, covs, 2);
%! agree = (info.distances < 2) == in;
%! assert (mean (agree) > 0.999);

## A scan far from every Gaussian stays where it started.
%!test
%! [means, covs] = voxelGaussians (rand (2000, 3) * 10, 2);
%! [T, info] = registerToMap (rand (100, 3) + 1000, means, covs);
%! assert (T, eye (4));
%! assert (info.converged, false);
%! assert (info.iterations, 0);

%!error id=registerToMap:tooFewInputs registerToMap (rand (10, 3), zeros (1, 3))
%!error id=registerToMap:tooFewPoints registerToMap ([rand(2, 3); NaN 0 0], zeros (1, 3), eye (3))
%!error id=registerToMap:emptyMap registerToMap (rand (10, 3), zeros (0, 3), zeros (3, 3, 0))
%!error id=registerToMap:badMeans registerToMap (rand (10, 3), [Inf 0 0], eye (3))
%!error id=registerToMap:badCovs registerToMap (rand (10, 3), zeros (2, 3), eye (2))
%!error id=registerToMap:badCovs registerToMap (rand (10, 3), zeros (1, 3), [1 0 0; 0 NaN 0; 0 0 1])
%!error id=registerToMap:badInitialTransform registerToMap (rand (10, 3), zeros (1, 3), eye (3), "InitialTransform", 2 * eye (4))
%!error id=registerToMap:badInitialTransform registerToMap (rand (10, 3), zeros (1, 3), eye (3), "InitialTransform", diag ([1 1 -1 1]))
%!error id=registerToMap:badInitialTransform registerToMap (rand (10, 3), zeros (1, 3), eye (3), "InitialTransform", [eye(3) [NaN; 0; 0]; 0 0 0 1])
%!error id=registerToMap:badMaxIterations registerToMap (rand (10, 3), zeros (1, 3), eye (3), "MaxIterations", 0)
%!error id=registerToMap:badTolerance registerToMap (rand (10, 3), zeros (1, 3), eye (3), "Tolerance", -1)
%!error id=registerToMap:badOutlierRatio registerToMap (rand (10, 3), zeros (1, 3), eye (3), "OutlierRatio", 1)
%!error id=registerToMap:badVoxelSize registerToMap (rand (10, 3), zeros (1, 3), eye (3), "VoxelSize", 0)
%!error id=registerToMap:badEigenvalueFloor registerToMap (rand (10, 3), zeros (1, 3), eye (3), "EigenvalueFloor", 1e-7)
%!error id=registerToMap:badOption registerToMap (rand (10, 3), zeros (1, 3), eye (3), "Grid", 1)
%!error id=tessary:notRigid tessary ("do", zeros (1, 4, "uint8"), "registerToMap", rand (10, 3), zeros (1, 3), reshape (eye (3), 9, 1), [2 0 0 0; 0 1 0 0; 0 0 1 0; 0 0 0 1], 30, 0, 0, 0.5, 1, 0.01)
%!error id=tessary:tooFewRows tessary ("do", zeros (1, 4, "uint8"), "registerToMap", rand (10, 3), zeros (0, 3), zeros (9, 0), eye (4), 30, 0, 0, 0.5, 1, 0.01)
%!error id=tessary:outsideRange tessary ("do", zeros (1, 4, "uint8"), "registerToMap", rand (10, 3), zeros (1, 3), reshape (eye (3), 9, 1), eye (4), 30, 0, 0, 0, 1, 0.01)
