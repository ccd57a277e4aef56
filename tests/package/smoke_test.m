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
  P = PointCloudIndex (rand (3, 50));
  assert (numel (P), 50);
  [in, up, labels] = gaussianGate (zeros (3, 5), zeros (3, 5), zeros (3, 0), zeros (9, 0), 1, 2);
  assert (labels, zeros (1, 5));
  evalc ("c = corvane ('init', zeros (3, 0)); ok = corvane ('delete', c);");
  assert (! isempty (strfind (evalc ("help tessary"), "K x M double")));
  clear P
  assert (! mislocked ("tessary"));
  disp ("smoke test passed");
endfunction
