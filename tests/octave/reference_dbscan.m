## labels = reference_dbscan (pts)
## DBSCAN with minPts 5 and eps 0.75 on the single-precision copies of the
## 3 x n points, with linear-scan region queries: the plain algorithm that
## the module's clustering must reproduce.
function labels = reference_dbscan (pts)
  p = single (pts);
  n = columns (p);
  labels = -ones (1, n);
  last = -1;
  for i = 1:n
    if (labels(i) != -1)
      continue;
    endif
    seeds = region (p, i);
    if (numel (seeds) + 1 < 5)
      labels(i) = -2;
      continue;
    endif
    last++;
    labels(i) = last;
    while (! isempty (seeds))
      c = seeds(end);
      seeds(end) = [];
      if (labels(c) == -2)
        labels(c) = last;
      endif
      if (labels(c) != -1)
        continue;
      endif
      labels(c) = last;
      nb = region (p, c);
      if (numel (nb) + 1 >= 5)
        seeds = [seeds, nb];
      endif
    endwhile
  endfor
endfunction

function nb = region (p, i)
  dx = p(1,i) - p(1,:);
  dy = p(2,i) - p(2,:);
  dz = p(3,i) - p(3,:);
  d = sqrt ((dy .* dy + dx .* dx) + dz .* dz);
  nb = find (single (0.75) >= d);
  nb(nb == i) = [];
endfunction
