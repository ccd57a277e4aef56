## [d2, groups] = brute_knn (pts, q, K)
## Reference for one query: the K smallest squared distances, computed with
## the same operation order as the search, and for each of them the set of
## point numbers at exactly that distance.
function [d2, same] = brute_knn (pts, q, K)
  d = ((q(1) - pts(1,:)) .^ 2 + (q(2) - pts(2,:)) .^ 2) + (q(3) - pts(3,:)) .^ 2;
  s = sort (d);
  d2 = s(1:min (K, numel (s)));
  same = arrayfun (@(v) find (d == v), d2, "UniformOutput", false);
endfunction
