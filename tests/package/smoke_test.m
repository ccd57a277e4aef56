## smoke_test ()
## A short run through every command, for freshly installed or built modules.
function smoke_test ()
  evalc ("h = tessary ('init', [0 0 0; 1 0 0; 0 2 0]');");
  [idx, d2] = tessary ("do", h, "knnsearch", [0.9; 0; 0], 2);
  assert (idx, [2; 1]);
  assert (d2, [0.01; 0.81], 1e-12);
  I9 = reshape (eye (3), 9, 1);
  assert (tessary ("do", h, "kd2", [0.5; 0; 0], [1; 1; 1], [0; 0; 0], I9, 1), true);
  evalc ("ok = tessary ('delete', h);");
  assert (! mislocked ("tessary"));
  P = PointCloudIndex (rand (50, 3));
  assert (P.Count, 50);
  assert (knnsearch (P, P.X(7, :)), 7);
  [in, up, labels] = gateAndCluster (zeros (5, 3), zeros (5, 0), zeros (0, 3), zeros (3, 3, 0), 1, 2);
  assert (labels, ones (5, 1));
  [means, ~, counts] = voxelGaussians ([0 0 0; 0.5 0.5 0.5; 3 3 3], 1, "MinPoints", 2);
  assert ([means, counts], [0.25 0.25 0.25 2]);
  assert (densityClusters ([0 0 0; 0.1 0 0; 5 5 5], 0.5, 2), [1; 1; -1]);
  ## The module file, not its .m stub of the same name, answers the calls.
  assert (regexp (which ("tessary"), ['\.' mexext() '$'], "once") > 0);
  evalc ("c = corvane ('init', zeros (3, 0)); ok = corvane ('delete', c);");
  assert (! isempty (strfind (evalc ("help tessary"), "K x M double")));
  clear P
  assert (! mislocked ("tessary"));
  disp ("smoke test passed");
endfunction
