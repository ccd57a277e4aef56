## knnsearch_demo (file)
## Indexes a lidar scan and finds the nearest scan points of 100,000 query
## points, printing what it did and how long each step took.  file holds a
## 3 x N float64 cloud (raw little-endian, column-major).
function knnsearch_demo (file)
  fid = fopen (file, "r", "ieee-le");
  pts = fread (fid, [3 Inf], "double=>double");
  fclose (fid);
  printf ("cloud: %d points from %s\n", columns (pts), file);

  tic;
  evalc ("h = tessary ('init', pts);");
  printf ("init: index of %d points built in %.1f ms\n", columns (pts), 1000 * toc);

  ## Queries: scan points moved by up to 5 cm, so that every query has
  ## real neighbours nearby.
  rand ("seed", 1);
  pick = randi (columns (pts), 1, 100000);
  queries = pts(:, pick) + 0.1 * (rand (3, 100000) - 0.5);

  K = 3;
  tic;
  [idx, d2] = tessary ("do", h, "knnsearch", queries, K);
  t = toc;
  printf ("knnsearch: %d queries, K = %d, in %.1f ms (%.2f million queries per second)\n", ...
          columns (queries), K, 1000 * t, columns (queries) / t / 1e6);
  d = sqrt (d2(1, :));
  printf ("nearest neighbour distance: median %.3f m, 95th percentile %.3f m, max %.3f m\n", ...
          median (d), prctile_simple (d, 0.95), max (d));
  printf ("queries whose nearest point is the one they came from: %.1f %%\n", ...
          100 * mean (idx(1, :) == pick));

  evalc ("ok = tessary ('delete', h);");
  printf ("delete: object released, module locked: %d\n", mislocked ("tessary"));
endfunction

function v = prctile_simple (x, p)
  s = sort (x);
  v = s(max (1, round (p * numel (s))));
endfunction
