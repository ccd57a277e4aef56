function pipeline_demo(file, png)
% pipeline_demo  The whole pipeline on a real-sized scene.
%
%   pipeline_demo(FILE)
%   pipeline_demo(FILE, PNG)
%     A map of Gaussians from a first cloud, a second cloud in which
%     something appeared, seen from a pose the odometry got wrong, the
%     second cloud registered to the map, each point's three nearest
%     Gaussians, the gate, and the clusters of what it rejected. Prints one line per step
%     with its size and time and writes a picture.
%     FILE  a cloud of N points as raw little-endian float64, x, y, z of
%           one point after another, or an N x 3 matrix
%     PNG   where to write the picture (default: pipeline.png)
%
%   When the picture cannot be drawn, every step is still printed and the
%   demo ends in the error pipeline_demo:noPicture, which says why.
if nargin < 2
  png = 'pipeline.png';
end
if ischar(file)
  fid = fopen(file, 'r', 'ieee-le');
  if fid < 0
    error('pipeline_demo:noCloud', 'cannot open %s', file);
  end
  cloud = fread(fid, [3 Inf], 'double=>double')';
  fclose(fid);
else
  cloud = file;
end
n = size(cloud, 1);
step('cloud', '%d points', n);

% K-nearest search on the cloud itself: 100,000 queries near its points.
rng(1);
tic; P = PointCloudIndex(cloud); t = toc;
step('init', 'index of %d points', P.Count, t);
queries = cloud(randi(n, 100000, 1), :) + 0.02 * randn(100000, 3);
tic; [~, D] = knnsearch(P, queries, 'K', 3); t = toc;
step('knnsearch', '100000 queries, K = 3, median nearest distance %.3f m', median(D(:, 1)), t);
clear P

% The map: mean and covariance of every 2 m voxel with at least 3 points.
% Fewer voxels (a higher MinPoints) leave more of the scene without a
% Gaussian of its own, and so rejected.
tic;
[means, covs] = voxelGaussians(cloud, 2.0, 'MinPoints', 3);
step('map', '%d voxel Gaussians of 2 m', size(means, 1), toc);

% The second cloud: the scene with a box (a parked van) and a post that
% were not there before, seen from a sensor 1.5 m and 5 degrees of yaw
% away from where the odometry puts it (here: at the map's origin).
van = boxSurface([6 -4 -1.7], [5 2.2 2.2], 0.1);
ring = linspace(0, 2 * pi, 40)';
post = repmat([2 + 0.15 * cos(ring), 3 + 0.15 * sin(ring), zeros(40, 1)], 20, 1);
post(:, 3) = kron(linspace(-1.7, 0.3, 20)', ones(40, 1));
scene = [cloud; van; post];
a = 5 * pi / 180;
truth = [cos(a) -sin(a) 0 1.2; sin(a) cos(a) 0 -0.9; 0 0 1 0; 0 0 0 1];
seen = bsxfun(@minus, scene, truth(1:3, 4)') * truth(1:3, 1:3);
step('scene', 'second cloud of %d points (%d added), seen from %.2f m and %.1f degrees away', size(seen, 1), ...
     size(van, 1) + size(post, 1), norm(truth(1:3, 4)), 5);

% Into the map's frame: the pose that fits the second cloud to the map.
% Its points are the map's own, so the gate's own covariances (a floor of
% 1e-6) fit them best and bring them to within a fraction of a millimetre,
% where the gate's thin Gaussians accept them; a scan of its own lands
% more reliably with the default floor of 0.01 (help registerToMap).
tic; [T, info] = registerToMap(seen, means, covs, 'EigenvalueFloor', 1e-6); t = toc;
E = truth \ T;
step('register', '%d Newton steps, %.1f mm and %.4f degrees from the true pose', info.iterations, ...
     1000 * norm(E(1:3, 4)), acosd(min(1, (trace(E(1:3, 1:3)) - 1) / 2)), t);
second = bsxfun(@plus, seen * T(1:3, 1:3)', T(1:3, 4)');

tic; M = PointCloudIndex(means); t = toc;
step('init', 'index of %d means', M.Count, t);
tic; ids = knnsearch(M, second, 'K', 3); t = toc;
step('knnsearch', 'three nearest Gaussians of %d points', size(second, 1), t);
% One threshold for both levels: a point whose first candidate passed the
% upper one alone would be rejected, though a later candidate fit it.
tic; [in, ~, labels] = gateAndCluster(second, ids, means, covs, 4, 4); t = toc;
step('gate', '%d accepted, %d rejected in %d clusters (%d noise)', sum(in), sum(~in), max([labels; 0]), ...
     sum(labels == -1), t);
added = (1:size(second, 1))' > n;
step('changes', '%d of the %d added points rejected, %d of the %d others', sum(~in & added), sum(added), ...
     sum(~in & ~added), n);
clear M

why = draw(second, in, labels, png);
if ~isempty(why)
  error('pipeline_demo:noPicture', 'picture    not written: %s', why);
end
step('picture', '%s', png);
end

function step(name, fmt, varargin)
% A trailing argument beyond the format's fields is the step's time.
if numel(varargin) > numel(strfind(fmt, '%'))
  t = varargin{end};
  varargin(end) = [];
  fprintf('%-10s %s  (%.1f ms)\n', name, sprintf(fmt, varargin{:}), 1000 * t);
else
  fprintf('%-10s %s\n', name, sprintf(fmt, varargin{:}));
end
end

function pts = boxSurface(corner, extent, spacing)
[u, v] = meshgrid(0:spacing:1, 0:spacing:1);
u = u(:); v = v(:); o = ones(size(u)); z = zeros(size(u));
unit = [[u, v, z]; [u, v, o]; [u, z, v]; [u, o, v]; [z, u, v]; [o, u, v]];
pts = bsxfun(@plus, bsxfun(@times, unit, extent), corner);
end

% Draws the scene from above into png. Returns '' when the picture was
% written, otherwise why not; the host's own warnings stay quiet meanwhile.
function why = draw(p, in, labels, png)
why = '';
saved = warning('off', 'all');
try
  if exist('OCTAVE_VERSION', 'builtin')
    graphics_toolkit('gnuplot');
  end
  h = figure('visible', 'off', 'position', [0 0 1000 800]);
  near = abs(p(:, 1)) < 40 & abs(p(:, 2)) < 30;
  hold on;
  sel = near & in;
  plot(p(sel, 1), p(sel, 2), '.', 'color', [0.75 0.75 0.75], 'markersize', 1);
  sel = near & labels == -1;
  plot(p(sel, 1), p(sel, 2), '.', 'color', [0.3 0.3 0.3], 'markersize', 4);
  colours = hsv(max(1, max(labels)));
  for c = 1:max(labels)
    sel = near & labels == c;
    plot(p(sel, 1), p(sel, 2), '.', 'color', colours(c, :), 'markersize', 6);
  end
  hold off;
  axis equal;
  title('grey: accepted, dark: rejected noise, colours: clusters of rejected points');
  xlabel('x [m]'); ylabel('y [m]');
  print(h, png, '-dpng');
  close(h);
catch err
  why = err.message;
end
warning(saved);
end
