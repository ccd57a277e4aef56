function pipeline_demo(file, png)
% pipeline_demo  The whole pipeline on a real-sized scene.
%
%   pipeline_demo(FILE)
%   pipeline_demo(FILE, PNG)
%     A map of Gaussians from a first cloud, a second cloud in which
%     something moved or appeared, each point's three nearest Gaussians, the
%     gate, and the clusters of what it rejected. Prints one line per step
%     with its size and time and writes a picture.
%     FILE  a 3 x N float64 cloud (raw little-endian, column-major), or a
%           3 x N double matrix
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
  cloud = fread(fid, [3 Inf], 'double=>double');
  fclose(fid);
else
  cloud = file;
end
step('cloud', '%d points', size(cloud, 2));

% K-nearest search on the cloud itself: 100,000 queries near its points.
rng(1);
tic; P = PointCloudIndex(cloud); t = toc;
step('init', 'index of %d points', numel(P), t);
queries = cloud(:, randi(size(cloud, 2), 1, 100000)) + 0.02 * randn(3, 100000);
tic; [~, d2] = knnsearch(P, queries, 3); t = toc;
step('knnsearch', '100000 queries, K = 3, median nearest distance %.3f m', median(sqrt(d2(1, :))), t);
clear P

% The map: mean and covariance of every 2 m voxel with at least 10 points.
tic;
[means, covs] = voxelGaussians(cloud, 2.0, 10);
step('map', '%d voxel Gaussians of 2 m', size(means, 2), toc);

% The second cloud: the scan moved by a small rigid motion, with a box
% (a parked van) and a post that were not there before.
a = 0.02 * pi / 180;
R = [cos(a) -sin(a) 0; sin(a) cos(a) 0; 0 0 1];
second = R * cloud + [0.01; -0.01; 0];
van = boxSurface([6 -4 -1.7], [5 2.2 2.2], 0.1);
ring = linspace(0, 2 * pi, 40);
post = [2 + 0.15 * cos(ring); 3 + 0.15 * sin(ring); zeros(1, 40)];
post = repmat(post, 1, 20) + [0; 0; 1] * kron(linspace(-1.7, 0.3, 20), ones(1, 40));
second = [second, van, post];
step('scene', 'second cloud of %d points (%d added)', size(second, 2), size(van, 2) + size(post, 2));

tic; M = PointCloudIndex(means); t = toc;
step('init', 'index of %d means', numel(M), t);
tic; ids = knnsearch(M, second, 3); t = toc;
step('knnsearch', 'three nearest Gaussians of %d points', size(second, 2), t);
tic; [in, inUpper, labels] = gaussianGate(second, ids, means, covs, 3, 5); t = toc;
clusters = max([labels, -1]) + 1;
step('kd', '%d accepted, %d upper only, %d rejected in %d clusters (%d noise)', sum(in), ...
     sum(inUpper & ~in), sum(~in), clusters, sum(labels == -2), t);
clear M

why = draw(second, in, inUpper, labels, png);
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

function [means, covs] = voxelGaussians(cloud, side, least)
[~, ~, voxel] = unique(floor(cloud' / side), 'rows');
count = accumarray(voxel, 1);
sums = [accumarray(voxel, cloud(1, :)'), accumarray(voxel, cloud(2, :)'), accumarray(voxel, cloud(3, :)')];
mu = sums ./ count;
d = cloud' - mu(voxel, :);
covs = zeros(9, numel(count));
for r = 1:3
  for c = 1:3
    covs(r + 3 * (c - 1), :) = accumarray(voxel, d(:, r) .* d(:, c))' ./ count';
  end
end
keep = count' >= least;
means = mu(keep, :)';
covs = covs(:, keep);
end

function pts = boxSurface(corner, extent, spacing)
[u, v] = meshgrid(0:spacing:1, 0:spacing:1);
u = u(:)'; v = v(:)'; o = ones(size(u)); z = zeros(size(u));
pts = corner(:) + extent(:) .* [[u; v; z], [u; v; o], [u; z; v], [u; o; v], [z; u; v], [o; u; v]];
end

% Draws the scene from above into png. Returns '' when the picture was
% written, otherwise why not; the host's own warnings stay quiet meanwhile.
function why = draw(p, in, inUpper, labels, png)
why = '';
saved = warning('off', 'all');
try
  if exist('OCTAVE_VERSION', 'builtin')
    graphics_toolkit('gnuplot');
  end
  h = figure('visible', 'off', 'position', [0 0 1000 800]);
  near = abs(p(1, :)) < 40 & abs(p(2, :)) < 30;
  hold on;
  sel = near & in;
  plot(p(1, sel), p(2, sel), '.', 'color', [0.75 0.75 0.75], 'markersize', 1);
  sel = near & inUpper & ~in;
  plot(p(1, sel), p(2, sel), '.', 'color', [1 0.6 0], 'markersize', 3);
  rejected = find(~in);
  noise = rejected(labels == -2);
  noise = noise(near(noise));
  plot(p(1, noise), p(2, noise), '.', 'color', [0.3 0.3 0.3], 'markersize', 4);
  colours = hsv(max(1, max(labels) + 1));
  for c = 0:max(labels)
    members = rejected(labels == c);
    members = members(near(members));
    plot(p(1, members), p(2, members), '.', 'color', colours(c + 1, :), 'markersize', 6);
  end
  hold off;
  axis equal;
  title('grey: accepted, orange: upper gate only, dark: rejected noise, colours: clusters of rejected points');
  xlabel('x [m]'); ylabel('y [m]');
  print(h, png, '-dpng');
  close(h);
catch err
  why = err.message;
end
warning(saved);
end
