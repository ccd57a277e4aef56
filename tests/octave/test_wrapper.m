## The users' layer: PointCloudIndex, gaussianGate and the help texts.

%!test
%! rand ("seed", 5);
%! pts = rand (3, 500);
%! q = rand (3, 20);
%! P = PointCloudIndex (pts);
%! assert (mislocked ("tessary"));
%! assert (numel (P), 500);
%! assert (size (P), [3 500]);
%! assert (size (P, 2), 500);
%! [r, c] = size (P);
%! assert ([r c], [3 500]);
%! assert (strtrim (evalc ("disp (P)")), "PointCloudIndex of 500 points");
%! [idx, d2] = knnsearch (P, q, 4);
%! h = new_object ("tessary", pts);
%! [idx0, d0] = tessary ("do", h, "knnsearch", q, 4);
%! free_object ("tessary", h);
%! assert (idx, idx0);
%! assert (d2, d0);
%! ## Clearing the last reference deletes the object and drops its lock.
%! Q = P;
%! clear P
%! assert (mislocked ("tessary"));
%! clear Q
%! assert (! mislocked ("tessary"));

%!test
%! ## The module's errors reach the caller unchanged, and the object survives them.
%! P = PointCloudIndex (rand (3, 50));
%! expect_error (@() knnsearch (P, rand (2, 3), 1), 2, "tessary:rowCount", "Argument points must have 3 rows (not 2)");
%! expect_error (@() knnsearch (P, rand (3, 3), -1), 2, "tessary:outOfRange", ...
%!               "Argument K must be finite and between 0 and 2147483647.");
%! [idx, d2] = knnsearch (P, zeros (3, 1), 1);
%! assert (idx >= 1 && idx <= 50);
%! clear P
%! assert (! mislocked ("tessary"));

%!test
%! ## A failed construction leaves nothing behind, and its destructor does nothing.
%! expect_error (@() PointCloudIndex (single (rand (3, 4))), 1, "tessary:wrongClass", "Argument pts must be of DOUBLE class");
%! expect_error (@() PointCloudIndex ([1; NaN; 2]), 1, "tessary:notFinite", "Argument pts must not contain NaN or Inf.");
%! assert (! mislocked ("tessary"));

%!test
%! I9 = reshape (eye (3), 9, 1);
%! means = [1.5 0 0; 0.5 0 0; 3 0 0]';
%! covs = repmat (I9, 1, 3);
%! pts = zeros (3, 3);
%! ids = [1 2 3; 3 3 2; 3 3 3]';
%! assert (gaussianGate (pts, ids, means, covs, 1), logical ([1 1 0]));
%! [in, up, labels] = gaussianGate (pts, ids, means, covs, 1, 2);
%! assert (in, logical ([0 1 0]));
%! assert (up, logical ([1 1 0]));
%! assert (labels, [-2 -2]);
%! expect_error (@() gaussianGate (pts, ids, means, covs(1:3, :), 1), 1, "tessary:rowCount", ...
%!               "Argument covs must have 9 rows (not 3)");

%!test
%! ## The whole pipeline through the wrapper.
%! means = [0 0 0; 10 0 0]';
%! covs = repmat (reshape (eye (3), 9, 1), 1, 2);
%! P = PointCloudIndex (means);
%! pts = [0.1 0 0; 9.5 0 0; 5 5 5]';
%! ids = knnsearch (P, pts, 2);
%! ids(3, :) = 0;
%! [in, up] = gaussianGate (pts, ids, means, covs, 1, 2);
%! assert (in, logical ([1 1 0]));

%!test
%! for name = {"tessary", "corvane", "PointCloudIndex", "gaussianGate"}
%!   text = evalc (sprintf ("help %s", name{1}));
%!   assert (! isempty (strfind (text, [name{1} "  "])), ["no H1 line for " name{1}]);
%! endfor
%! text = evalc ("help tessary");
%! for fragment = {"3 x N double", "K x M double", "1 x N logical", "tessary:deadHandle", "badCandidate"}
%!   assert (! isempty (strfind (text, fragment{1})), "help tessary lacks %s", fragment{1});
%! endfor
