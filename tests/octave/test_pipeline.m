## The whole pipeline: an index over the Gaussians' means gives each point
## its three nearest Gaussians, which "kd" gates; checked against a plain
## reference of the gate and of the clustering.

%!test
%! rand ("seed", 2024);
%! randn ("seed", 2024);
%! ## A map of Gaussians on a 4 m grid, each with its own rotated covariance.
%! [gx, gy] = meshgrid (0:4:36, 0:4:36);
%! means = [gx(:)'; gy(:)'; zeros(1, numel (gx))];
%! M = columns (means);
%! covs = zeros (9, M);
%! for g = 1:M
%!   [Q, ~] = qr (randn (3));
%!   C = Q * diag ([0.3 0.5 0.8] .^ 2) * Q';
%!   covs(:, g) = C(:);
%! endfor
%! ## Points drawn from the Gaussians, a few moved away, and a dense
%! ## object where the map has nothing.
%! src = randi (M, 1, 3000);
%! pts = zeros (3, 3000);
%! for k = 1:3000
%!   C = reshape (covs(:, src(k)), 3, 3);
%!   pts(:, k) = means(:, src(k)) + chol (C, "lower") * randn (3, 1);
%! endfor
%! moved = rand (1, 3000) < 0.05;
%! pts(:, moved) += [0; 0; 3];
%! object = [18; 18; 6] + 0.3 * randn (3, 200);
%! pts = [pts, object];
%! mahal = 2;
%! mahalUpper = 3;
%!
%! evalc ("hm = tessary ('init', means);");
%! [ids, ~] = tessary ("do", hm, "knnsearch", pts, 3);
%! [in, inUpper, labels] = tessary ("do", hm, "kd", pts, ids, means, covs, mahal, mahalUpper);
%!
%! ## The reference gate in double precision; points with a candidate
%! ## distance near a threshold are left out, where float32 may decide otherwise.
%! N = columns (pts);
%! ref_in = false (1, N);
%! ref_up = false (1, N);
%! clear_cut = true (1, N);
%! for i = 1:N
%!   decided = false;
%!   for j = 1:3
%!     g = ids(j, i);
%!     d = pts(:, i) - means(:, g);
%!     D = sqrt (d' * (reshape (covs(:, g), 3, 3) \ d));
%!     clear_cut(i) &= min (abs (D - [mahal mahalUpper])) > 1e-3;
%!     if (! decided && D < mahal)
%!       ref_in(i) = ref_up(i) = decided = true;
%!     elseif (! decided && D < mahalUpper)
%!       ref_up(i) = decided = true;
%!     endif
%!   endfor
%! endfor
%! assert (mean (clear_cut) > 0.99);
%! assert (in(clear_cut), ref_in(clear_cut));
%! assert (inUpper(clear_cut), ref_up(clear_cut));
%! assert (all (in(end-199:end) == false));
%! assert (mean (in(moved)) < 0.05);
%! assert (mean (in(1:3000)(! moved)) > 0.6);
%! assert (mean (inUpper(1:3000)(! moved)) > 0.9);
%!
%! ## The labels are those of the plain clustering of the rejected points.
%! assert (labels, reference_dbscan (pts(:, ! in)));
%! assert (max (labels) >= 0);
%! evalc ("ok = tessary ('delete', hm);");
