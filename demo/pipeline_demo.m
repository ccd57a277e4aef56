## pipeline_demo (file, png)
## The whole pipeline on a real-sized scene: a map of Gaussians from a first
## cloud, a second cloud in which something moved or appeared, each point's
## three nearest Gaussians, the gate, and the clusters of what it rejected.
## Prints one line per step with its size and time and writes a picture.
##   file  a 3 x N float64 cloud (raw little-endian, column-major); or pass
##         a 3 x N double matrix instead
##   png   where to write the picture (default: pipeline.png)
function pipeline_demo (file, png = "pipeline.png")
  if (ischar (file))
    fid = fopen (file, "r", "ieee-le");
    cloud = fread (fid, [3 Inf], "double=>double");
    fclose (fid);
  else
    cloud = file;
  endif
  step ("cloud", "%d points", columns (cloud));

  ## K-nearest search on the cloud itself: 100,000 queries near its points.
  rand ("seed", 1); randn ("seed", 1);
  tic; P = PointCloudIndex (cloud); t = toc;
  step ("init", "index of %d points", numel (P), t);
  queries = cloud(:, randi (columns (cloud), 1, 100000)) + 0.02 * randn (3, 100000);
  tic; [~, d2] = knnsearch (P, queries, 3); t = toc;
  step ("knnsearch", "100000 queries, K = 3, median nearest distance %.3f m", median (sqrt (d2(1, :))), t);
  clear P

  ## The map: mean and covariance of every 2 m voxel with at least 10 points.
  tic;
  [means, covs] = voxel_gaussians (cloud, 2.0, 10);
  step ("map", "%d voxel Gaussians of 2 m", columns (means), toc);

  ## The second cloud: the scan moved by a small rigid motion, with a box
  ## (a parked van) and a post that were not there before.
  a = deg2rad (0.02);
  R = [cos(a) -sin(a) 0; sin(a) cos(a) 0; 0 0 1];
  second = R * cloud + [0.01; -0.01; 0];
  van = box_surface ([6 -4 -1.7], [5 2.2 2.2], 0.1);
  post = [2 + 0.15 * cos(linspace (0, 2*pi, 40)); 3 + 0.15 * sin(linspace (0, 2*pi, 40)); zeros(1, 40)];
  post = repmat (post, 1, 20) + [0; 0; 1] * kron (linspace (-1.7, 0.3, 20), ones (1, 40));
  second = [second, van, post];
  step ("scene", "second cloud of %d points (%d added)", columns (second), columns (van) + columns (post));

  tic; M = PointCloudIndex (means); t = toc;
  step ("init", "index of %d means", numel (M), t);
  tic; ids = knnsearch (M, second, 3); t = toc;
  step ("knnsearch", "three nearest Gaussians of %d points", columns (second), t);
  tic; [in, inUpper, labels] = gaussianGate (second, ids, means, covs, 3, 5); t = toc;
  clusters = max ([labels, -1]) + 1;
  step ("kd", "%d accepted, %d upper only, %d rejected in %d clusters (%d noise)", sum (in), ...
        sum (inUpper & ! in), sum (! in), clusters, sum (labels == -2), t);
  clear M

  draw (second, in, inUpper, labels, png);
  step ("picture", "%s", png);
endfunction

function step (name, fmt, varargin)
  if (numel (varargin) > numel (strfind (fmt, "%")))
    t = varargin{end};
    varargin(end) = [];
    printf ("%-10s %s  (%.1f ms)\n", name, sprintf (fmt, varargin{:}), 1000 * t);
  else
    printf ("%-10s %s\n", name, sprintf (fmt, varargin{:}));
  endif
endfunction

function [means, covs] = voxel_gaussians (cloud, side, least)
  [~, ~, voxel] = unique (floor (cloud' / side), "rows");
  count = accumarray (voxel, 1);
  sums = [accumarray(voxel, cloud(1,:)'), accumarray(voxel, cloud(2,:)'), accumarray(voxel, cloud(3,:)')];
  mu = sums ./ count;
  d = cloud' - mu(voxel, :);
  covs = zeros (9, numel (count));
  for r = 1:3
    for c = 1:3
      covs(r + 3 * (c - 1), :) = accumarray (voxel, d(:, r) .* d(:, c))' ./ count';
    endfor
  endfor
  keep = count' >= least;
  means = mu(keep, :)';
  covs = covs(:, keep);
endfunction

function pts = box_surface (corner, extent, spacing)
  [u, v] = meshgrid (0:spacing:1, 0:spacing:1);
  u = u(:)'; v = v(:)'; o = ones (size (u)); z = zeros (size (u));
  pts = corner(:) + extent(:) .* [[u; v; z], [u; v; o], [u; z; v], [u; o; v], [z; u; v], [o; u; v]];
endfunction

function draw (p, in, inUpper, labels, png)
  warning ("off", "Octave:gnuplot-graphics");
  graphics_toolkit ("gnuplot");
  h = figure ("visible", "off", "position", [0 0 1000 800]);
  near = abs (p(1, :)) < 40 & abs (p(2, :)) < 30;
  hold on;
  sel = near & in;
  plot (p(1, sel), p(2, sel), ".", "color", [0.75 0.75 0.75], "markersize", 1);
  sel = near & inUpper & ! in;
  plot (p(1, sel), p(2, sel), ".", "color", [1 0.6 0], "markersize", 3);
  rejected = find (! in);
  noise = rejected(labels == -2);
  plot (p(1, noise & near(noise)), p(2, noise & near(noise)), ".", "color", [0.3 0.3 0.3], "markersize", 4);
  colours = hsv (max (1, max (labels) + 1));
  for c = 0:max (labels)
    members = rejected(labels == c);
    members = members(near(members));
    plot (p(1, members), p(2, members), ".", "color", colours(c + 1, :), "markersize", 6);
  endfor
  hold off;
  axis equal;
  title ("grey: accepted, orange: upper gate only, dark: rejected noise, colours: clusters of rejected points");
  xlabel ("x [m]"); ylabel ("y [m]");
  print (h, png, "-dpng");
  close (h);
endfunction
