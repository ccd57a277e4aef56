## bench_octave (mode, ...)
## Timed calls of one command in Octave, as a user makes them: the first on
## fresh memory, then the warm ones (BENCH_CALLS in all, 6 when unset). Prints
## "ms=<milliseconds>" for each call and, where output files are named,
## writes the outputs of the last.
##   init <pts>
##   knn <pts> <queries> <K> [numbers.out distances.out]
##   kd | kd2 <points> <ids> <means> <covs> <mahal> <mahalUpper> [in.out inUpper.out]
##   cluster <points> [labels.out]           "kd" with every point rejected
##   pipeline <points> <means> <covs> [in.out labels.out]
##                                           an index over the means, each point's three
##                                           nearest, "kd" with thresholds 3 and 5
##   layer <points> <means> <covs> [in.out labels.out]
##                                           the same pipeline through the users' layer, on
##                                           points as rows; writes the outputs as "pipeline"
##   octgate <points> <ids> <means> <covs> <mahal> <mahalUpper>   a vectorised gate
##   voxels <points> <size> [means.out covs.out counts.out]
##                                           voxelGaussians with MinPoints 6, on rows
##   scriptvoxels <points> <size> [means.out covs.out counts.out]
##                                           the same map in script: unique rows, accumarray
##   dbscan <points> <epsilon> <minpts> [idx.out]   densityClusters, on rows
##   layerknn <pts> <queries> <K>            knnsearch of a PointCloudIndex, on rows
##   range <pts> <queries> <r> [counts.out rows.out]
##                                           rangesearch of a PointCloudIndex, sorted, with
##                                           distances; writes each query's count and rows
##   register <map> <scan> <start> <voxel> <maxIterations> [T.out]
##                                           registerToMap of the scan (rows) to the map's
##                                           voxelGaussians (made untimed) from the 4 x 4
##                                           start (16 doubles, row by row); writes T so
##   sweep <map> <scan> <truth> <voxel> <starts> <metres> <degrees>
##                                           registerToMap from <starts> random starts up to
##                                           0.5 m and 5 degrees off the known pose; prints
##                                           the mean time of one ("ms=") and how many
##                                           converged within the limits
function bench_octave (mode, varargin)
  rd = @(f, rows) read_cloud (f, rows);
  calls = str2double (getenv ("BENCH_CALLS"));
  if (isnan (calls))
    calls = 6;
  endif
  ## Load the module and start its threads before anything is timed.
  tessary ("do", uint8 ([0 0 0 0]), "kd2", zeros (3, 1), zeros (3, 1), zeros (3, 0), zeros (9, 0), 1);
  switch (mode)
    case "init"
      pts = rd (varargin{1}, 3);
      for c = 1:calls
        tic; evalc ("h = tessary ('init', pts);"); report (toc);
        evalc ("ok = tessary ('delete', h);");
      endfor
    case "knn"
      pts = rd (varargin{1}, 3); q = rd (varargin{2}, 3); K = str2double (varargin{3});
      evalc ("h = tessary ('init', pts);");
      for c = 1:calls
        tic; [idx, d2] = tessary ("do", h, "knnsearch", q, K); report (toc);
      endfor
      write_outputs (varargin(4:end), idx, d2);
    case {"kd", "kd2"}
      [p, ids, means, covs, mahal, upper] = gate_inputs (varargin);
      for c = 1:calls
        if (strcmp (mode, "kd"))
          tic; [in, inUpper] = tessary ("do", uint8 ([0 0 0 0]), "kd", p, ids, means, covs, mahal, upper); report (toc);
        else
          tic; in = tessary ("do", uint8 ([0 0 0 0]), "kd2", p, ids, means, covs, mahal); report (toc);
          inUpper = in;
        endif
      endfor
      write_outputs (varargin(7:end), double (in), double (inUpper));
    case "cluster"
      p = rd (varargin{1}, 3);
      none = zeros (3, columns (p));
      for c = 1:calls
        tic; [in, inUpper, labels] = tessary ("do", uint8 ([0 0 0 0]), "kd", p, none, zeros (3, 0), zeros (9, 0), 1, 1); report (toc);
      endfor
      write_outputs (varargin(2:end), labels);
    case "pipeline"
      p = rd (varargin{1}, 3); means = rd (varargin{2}, 3); covs = rd (varargin{3}, 9);
      for c = 1:calls
        tic;
        evalc ("h = tessary ('init', means);");
        [ids, ~] = tessary ("do", h, "knnsearch", p, 3);
        [in, inUpper, labels] = tessary ("do", h, "kd", p, ids, means, covs, 3, 5);
        report (toc);
        evalc ("ok = tessary ('delete', h);");
      endfor
      write_outputs (varargin(4:end), double (in), labels);
    case "layer"
      p = rd (varargin{1}, 3)'; means = rd (varargin{2}, 3)'; covs = reshape (rd (varargin{3}, 9), 3, 3, []);
      for c = 1:calls
        tic;
        M = PointCloudIndex (means);
        ids = knnsearch (M, p, "K", 3);
        [in, inUpper, labels] = gateAndCluster (p, ids, means, covs, 3, 5);
        report (toc);
        clear M;
      endfor
      write_outputs (varargin(4:end), double (in), labels(! in) - 1);
    case "voxels"
      p = rd (varargin{1}, 3)'; side = str2double (varargin{2});
      for c = 1:calls
        tic; [means, covs, counts] = voxelGaussians (p, side); report (toc);
      endfor
      write_outputs (varargin(3:end), means, covs, counts);
    case "scriptvoxels"
      p = rd (varargin{1}, 3)'; side = str2double (varargin{2});
      for c = 1:calls
        tic; [means, covs, counts] = script_voxels (p, side, 6); report (toc);
      endfor
      write_outputs (varargin(3:end), means, covs, counts);
    case "dbscan"
      p = rd (varargin{1}, 3)';
      for c = 1:calls
        tic; idx = densityClusters (p, str2double (varargin{2}), str2double (varargin{3})); report (toc);
      endfor
      write_outputs (varargin(4:end), idx);
    case "layerknn"
      P = PointCloudIndex (rd (varargin{1}, 3)'); q = rd (varargin{2}, 3)'; K = str2double (varargin{3});
      for c = 1:calls
        tic; [idx, D] = knnsearch (P, q, "K", K); report (toc);
      endfor
    case "range"
      P = PointCloudIndex (rd (varargin{1}, 3)'); q = rd (varargin{2}, 3)'; r = str2double (varargin{3});
      for c = 1:calls
        tic; [idx, D] = rangesearch (P, q, r); report (toc);
      endfor
      write_outputs (varargin(4:end), cellfun (@numel, idx), [idx{:}]);
    case "octgate"
      [p, ids, means, covs, mahal, upper] = gate_inputs (varargin);
      for c = 1:calls
        tic; [in, inUpper] = vectorised_gate (p, ids, means, covs, mahal, upper); report (toc);
      endfor
    case "register"
      [means, covs] = voxelGaussians (rd (varargin{1}, 3)', str2double (varargin{4}));
      scan = rd (varargin{2}, 3)';
      start = rd (varargin{3}, 4)';
      for c = 1:calls
        tic;
        T = registerToMap (scan, means, covs, "InitialTransform", start, "MaxIterations", str2double (varargin{5}), ...
                           "VoxelSize", str2double (varargin{4}));
        report (toc);
      endfor
      write_outputs (varargin(6:end), T');
    case "sweep"
      voxel = str2double (varargin{4});
      [means, covs] = voxelGaussians (rd (varargin{1}, 3)', voxel);
      scan = rd (varargin{2}, 3)';
      truth = rd (varargin{3}, 4)';
      rand ("seed", 1);
      starts = str2double (varargin{5});
      errors = zeros (starts, 2);
      within = 0;
      tic;
      for k = 1:starts
        w = rand (3, 1) - 0.5;
        w *= rand * 5 * pi / 180 / norm (w);
        v = rand (3, 1) - 0.5;
        v *= rand * 0.5 / norm (v);
        t = norm (w);
        K = [0 -w(3) w(2); w(3) 0 -w(1); -w(2) w(1) 0] / t;
        start = [eye(3) + sin(t) * K + (1 - cos (t)) * K * K, v; 0 0 0 1] * truth;
        [T, info] = registerToMap (scan, means, covs, "InitialTransform", start, "VoxelSize", voxel);
        E = truth \ T;
        errors(k, :) = [norm(E(1:3, 4)), acosd(min (1, (trace (E(1:3, 1:3)) - 1) / 2))];
        within += info.converged && errors(k, 1) < str2double (varargin{6}) && errors(k, 2) < str2double (varargin{7});
      endfor
      report (toc / starts);
      printf ("within=%d starts=%d median_m=%.4f median_deg=%.4f worst_m=%.4f worst_deg=%.4f\n", within, starts, ...
              median (errors(:, 1)), median (errors(:, 2)), max (errors(:, 1)), max (errors(:, 2)));
  endswitch
endfunction

function report (seconds)
  printf ("ms=%.6f\n", 1000 * seconds);
endfunction

function X = read_cloud (file, rows)
  fid = fopen (file, "r", "ieee-le");
  X = fread (fid, [rows Inf], "double=>double");
  fclose (fid);
endfunction

function write_outputs (files, varargin)
  for k = 1:min (numel (files), numel (varargin))
    fid = fopen (files{k}, "w", "ieee-le");
    fwrite (fid, varargin{k}, "double");
    fclose (fid);
  endfor
endfunction

function [p, ids, means, covs, mahal, upper] = gate_inputs (args)
  p = read_cloud (args{1}, 3);
  ids = read_cloud (args{2}, 3);
  means = read_cloud (args{3}, 3);
  covs = read_cloud (args{4}, 9);
  mahal = str2double (args{5});
  upper = str2double (args{6});
endfunction

## The gate as an Octave user would vectorise it: every Gaussian's inverse by
## its adjugate, then the quadratic forms of all points for one row of
## candidates at a time; the first candidate that passes a gate decides.
function [in, inUpper] = vectorised_gate (p, ids, means, covs, mahal, upper)
  a = covs(1,:); b = covs(2,:); c = covs(3,:); e = covs(5,:); f = covs(6,:); i = covs(9,:);
  A = e .* i - f .* f; B = c .* f - b .* i; C = b .* f - c .* e;
  det = a .* A + b .* B + c .* C;
  S = [A; B; C; a .* i - c .* c; b .* c - a .* f; a .* e - b .* b] ./ det;
  N = columns (p);
  in = false (1, N); inUpper = false (1, N); open = true (1, N);
  for j = 1:3
    g = ids(j, :);
    ok = open & g >= 1;
    gg = max (g, 1);
    d = p - means(:, gg);
    s = S(:, gg);
    q = d(1,:) .* (s(1,:) .* d(1,:) + s(2,:) .* d(2,:) + s(3,:) .* d(3,:)) ...
        + d(2,:) .* (s(2,:) .* d(1,:) + s(4,:) .* d(2,:) + s(5,:) .* d(3,:)) ...
        + d(3,:) .* (s(3,:) .* d(1,:) + s(5,:) .* d(2,:) + s(6,:) .* d(3,:));
    D = sqrt (q);
    passStrict = ok & D < mahal;
    passUpper = ok & (D < upper | passStrict);
    in |= passStrict;
    inUpper |= passUpper;
    open &= ! passUpper;
  endfor
endfunction

## The map as a script makes it: each voxel's number by unique rows, then
## sums and sums of deviations' products by accumarray.
function [means, covs, counts] = script_voxels (p, side, least)
  [~, ~, voxel] = unique (floor (p / side), "rows");
  counts = accumarray (voxel, 1);
  mu = [accumarray(voxel, p(:, 1)), accumarray(voxel, p(:, 2)), accumarray(voxel, p(:, 3))] ./ counts;
  d = p - mu(voxel, :);
  covs = zeros (3, 3, numel (counts));
  for r = 1:3
    for c = 1:3
      covs(r, c, :) = reshape (accumarray (voxel, d(:, r) .* d(:, c)) ./ max (counts - 1, 1), 1, 1, []);
    endfor
  endfor
  keep = counts >= least;
  means = mu(keep, :);
  covs = covs(:, :, keep);
  counts = counts(keep);
endfunction
