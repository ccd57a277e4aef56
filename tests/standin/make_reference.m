% Writes the inputs and outputs of the Octave build that every build on
% MATLAB's interface must give bit for bit: "knnsearch" on the lidar scan
% with K = 1, 3 and 10, "voxelGaussians", "densityClusters" and
% "registerToMap" on it, and
% "kd" and "kd2", with the clustering, on a scene
% of 200,000 points and 20,000 Gaussians, with points on the gate's boundary.
% Builds on MATLAB's interface replay some of them; builds of other releases
% compare the whole file: the users' layer's searches (by row, with ties,
% within a radius) and "knnsearch" at K = 8 on a grid of repeated points,
% where equal distances abound, are here for them.
%   octave-cli make_reference.m <module folder> <data folder> <output file>
args = argv();
addpath(args{1});
rng(20261208);

fid = fopen(fullfile(args{2}, 'kitti_hdl64_000000.f64'), 'r', 'ieee-le');
scan = fread(fid, [3 Inf], 'double');
fclose(fid);
queries = scan + 0.05 * randn(size(scan));
evalc('h = tessary(''init'', scan);');
out = {'scan', scan; 'queries', queries};
for K = [1 3 10]
  [idx, d2] = tessary('do', h, 'knnsearch', queries, K);
  out(end + 1, :) = {sprintf('idx%d', K), idx};
  out(end + 1, :) = {sprintf('d2_%d', K), d2};
end
% The users' layer's searches, their cells laid end to end after their
% lengths.
Y = queries(:, 1:20000)';
[kr, kd] = tessary('do', h, 'knnrows', Y, 3, [], 0);
[tr, td] = tessary('do', h, 'knnrows', Y, 3, [], 1);
[rr, rd] = tessary('do', h, 'rangerows', Y, 0.3, [], 1);
out = [out; {'knnrows_idx', kr; 'knnrows_d', kd; 'ties_len', cellfun(@numel, tr)'; 'ties_idx', [tr{:}]; ...
             'ties_d', [td{:}]; 'range_len', cellfun(@numel, rr)'; 'range_idx', [rr{:}]; 'range_d', [rd{:}]}];
evalc('ok = tessary(''delete'', h);');
grid = floor(4 * rand(3, 3000));
grid = [grid, grid(:, 1:1000)];
evalc('hg = tessary(''init'', grid);');
[gi, gd] = tessary('do', hg, 'knnsearch', 0.5 * floor(9 * rand(3, 5000)), 8);
evalc('ok = tessary(''delete'', hg);');
out = [out; {'grid_idx8', gi; 'grid_d8', gd}];
% The scan as rows: its voxel map at 2 m and its clustering at 0.75 m.
rows = scan';
none = zeros(1, 4, 'uint8');
[vm, vc, vn] = tessary('do', none, 'voxelGaussians', rows, 2, 6);
[di, dc] = tessary('do', none, 'densityClusters', rows, 0.75, 5);
out = [out; {'rows', rows; 'vox_means', vm; 'vox_covs', vc; 'vox_counts', vn; 'dc_idx', di; 'dc_core', dc}];
% The scan moved by 1 m and 4 degrees, registered back to its own map. The
% rotation is a quaternion's, written out: sin and cos round otherwise from
% one C library to another, and so may a matrix product.
q = [1 0.01 -0.005 0.035];
q = q / sqrt((q(1)^2 + q(2)^2) + (q(3)^2 + q(4)^2));
[w, x, y, z] = deal(q(1), q(2), q(3), q(4));
R = [1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y);
     2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x);
     2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)];
moved = zeros(size(rows));
for r = 1:3
  moved(:, r) = (R(r, 1) * rows(:, 1) + R(r, 2) * rows(:, 2)) + R(r, 3) * rows(:, 3) + [0.8 -0.5 0.1](r);
end
[rT, rc, ri, rs, rh, rd] = tessary('do', none, 'registerToMap', moved, vm, vc, eye(4), 30, 1e-3, 1e-5, 0.55, 2, 0.01);
out = [out; {'reg_scan', moved; 'reg_T', rT; 'reg_converged', rc; 'reg_iterations', ri; 'reg_score', rs; ...
             'reg_hessian', rh; 'reg_distances', rd}];

% Gaussians over a 200 m x 200 m map, some degenerate: all zero, flat,
% with a negative eigenvalue, with a NaN.
G = 20000;
means = [200 * rand(2, G); 4 * rand(1, G)];
A = 0.4 * randn(9, G);
covs = zeros(9, G);
for r = 1:3
  for c = 1:3
    covs(r + 3 * (c - 1), :) = sum(A(r:3:9, :) .* A(c:3:9, :), 1);
  end
end
covs([1 5 9], :) = covs([1 5 9], :) + 0.01;
kind = rand(1, G);
covs(:, kind < 0.02) = 0;
covs([3 6 7 8 9], kind >= 0.02 & kind < 0.04) = 0;
covs(9, kind >= 0.04 & kind < 0.05) = -1;
covs(5, kind >= 0.05 & kind < 0.06) = NaN;

% Points near the Gaussians, clumps where the map has nothing, and scatter;
% and, below, points on the strict gate's boundary.
% (Indices from rand: randi draws otherwise from one Octave release to another.)
near = means(:, floor(G * rand(1, 140000)) + 1) + 0.3 * randn(3, 140000);
centres = [200 * rand(2, 2000); 4 * rand(1, 2000)];
clumps = centres(:, repmat(1:2000, 1, 25)) + 0.15 * randn(3, 50000);
scatter = [200 * rand(2, 10000); 4 * rand(1, 10000)];
points = [near, clumps, scatter];
evalc('hm = tessary(''init'', means);');
[ids, ~] = tessary('do', hm, 'knnsearch', points, 3);
ids(rand(size(ids)) < 0.02) = 0;
% Points at Mahalanobis distance mahal from a Gaussian of their own, in
% exact arithmetic (mean + mahal * L * u, C = L * L', |u| = 1): the float
% distance lands an ulp or so to either side, so that a last-bit change of
% the kernel's inverse shows in the masks.
mahal = 2.5;
regular = find(kind >= 0.06);
edge = zeros(3, numel(regular));
% The Cholesky factor, the norm and the product written out: LAPACK's and
% BLAS's round otherwise from one release to another.
for k = 1:numel(regular)
  u = randn(3, 1);
  u = u / sqrt(u(1)^2 + u(2)^2 + u(3)^2);
  C = reshape(covs(:, regular(k)), 3, 3);
  l11 = sqrt(C(1, 1));
  l21 = C(2, 1) / l11;
  l31 = C(3, 1) / l11;
  l22 = sqrt(C(2, 2) - l21^2);
  l32 = (C(3, 2) - l31 * l21) / l22;
  l33 = sqrt(C(3, 3) - l31^2 - l32^2);
  Lu = [l11 * u(1); l21 * u(1) + l22 * u(2); l31 * u(1) + l32 * u(2) + l33 * u(3)];
  edge(:, k) = means(:, regular(k)) + mahal * Lu;
end
points = [points, edge];
ids = [ids, [regular; zeros(2, numel(regular))]];
mahalUpper = 4;
[in, inUpper, labels] = tessary('do', hm, 'kd', points, ids, means, covs, mahal, mahalUpper);
in2 = tessary('do', hm, 'kd2', points, ids, means, covs, mahal);
evalc('ok = tessary(''delete'', hm);');
out = [out; {'points', points; 'ids', ids; 'means', means; 'covs', covs; 'mahal', mahal; ...
             'mahalUpper', mahalUpper; 'kd_in', in; 'kd_inUpper', inUpper; 'kd_labels', labels; 'kd2_in', in2}];
fprintf('%d of %d points rejected, in %d clusters\n', sum(~in), numel(in), max(labels) + 1);

% Each array: a 16-byte name, a class (1 double, 2 logical), rows and
% columns as uint64, then the elements.
fid = fopen(args{3}, 'w', 'ieee-le');
for k = 1:size(out, 1)
  [name, value] = out{k, :};
  fwrite(fid, [name, zeros(1, 16 - numel(name))], 'uint8');
  fwrite(fid, 1 + islogical(value), 'uint32');
  fwrite(fid, size(value), 'uint64');
  if islogical(value)
    fwrite(fid, value, 'uint8');
  else
    fwrite(fid, value, 'double');
  end
end
fclose(fid);
