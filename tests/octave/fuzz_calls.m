## fuzz_calls (module, count, seed)
## Calls a module count times with random commands, argument counts and
## arguments of every class, shape and value, and handles that are live,
## deleted, made up, of the other module, all-zero or malformed. Every call
## must return or raise an error whose identifier is the module's; at the end
## every object is deleted and the module is unlocked. Prints what it did.
function fuzz_calls (module, count, seed)
  rand ("seed", seed);
  randn ("seed", seed);
  other = {"tessary", "corvane"}{1 + strcmp (module, "tessary")};
  f = str2func (module);
  live = {};
  dead = {};
  foreign = {new_object(other, zeros (3, 0))};
  outcomes = struct ("ok", 0, "error", 0);
  for call = 1:count
    [args, nout] = random_call (module, live, dead, foreign);
    try
      out = cell (1, nout);
      if (nout == 0)
        evalc ("f (args{:});");
      else
        evalc ("[out{:}] = f (args{:});");
      endif
      outcomes.ok++;
      [live, dead] = track (args, out, live, dead);
    catch err
      outcomes.error++;
      if (! strncmp (err.identifier, [module ":"], numel (module) + 1))
        error ("fuzz_calls: call %d of %s raised '%s' (%s)\n%s", call, module, err.identifier, ...
               err.message, describe (args, nout));
      endif
    end_try_catch
  endfor
  for k = 1:numel (live)
    free_object (module, live{k});
  endfor
  free_object (other, foreign{1});
  assert (! mislocked (module), "%s is still locked", module);
  assert (! mislocked (other), "%s is still locked", other);
  printf ("%s: %d calls, %d returned, %d raised a %s error, %d objects made\n", module, count, ...
          outcomes.ok, outcomes.error, module, numel (live) + numel (dead));
endfunction

function [live, dead] = track (args, out, live, dead)
  if (numel (args) >= 1 && ischar (args{1}) && isrow (args{1}))
    cmd = args{1};
    if (strcmp (cmd, "init"))
      live{end+1} = out{1};
    elseif (numel (args) >= 2 && (strcmp (cmd, "delete") ...
            || (strcmp (cmd, "do") && numel (args) >= 3 && ischar (args{3}) && strcmp (args{3}, "DELETE"))))
      hit = cellfun (@(h) isequal (h(:), args{2}(:)), live);
      dead = [dead, live(hit)];
      live(hit) = [];
    endif
  endif
endfunction

function [args, nout] = random_call (module, live, dead, foreign)
  commands = {"init", "do", "delete", "INIT", "Do", "delete ", "", "dele", ...
              repmat("do", 1, 13), 42, {"do"}, ["do"; "do"], single("init")};
  subs = {"knnsearch", "kd", "kd2", "DELETE", "delete", "KNNSEARCH", "kd3", "k", ...
          ["kd" char(0)], repmat("kd", 1, 15), 7, {}, int8([107 100])};
  u = rand ();
  if (u < 0.35)
    cmd = "do";
  elseif (u < 0.55)
    cmd = "init";
  elseif (u < 0.65)
    cmd = "delete";
  else
    cmd = commands{randi (numel (commands))};
  endif
  n = randi ([0 10]);
  args = cell (1, n);
  for k = 1:n
    args{k} = random_value ();
  endfor
  if (n >= 1)
    args{1} = cmd;
  endif
  if (strcmp (cmd, "do") && n < 3 && rand () < 0.7)
    n = randi ([3 9]);
    args(end+1:n) = {[]};
  endif
  if (n >= 2 && rand () < 0.85)
    args{2} = random_handle (live, dead, foreign);
  endif
  if (n >= 2 && strcmp (cmd, "init") && rand () < 0.7)
    args{2} = random_points ();
  endif
  if (n >= 3 && strcmp (cmd, "do"))
    if (rand () < 0.8)
      args{3} = subs{randi (4)};
    else
      args{3} = subs{randi (numel (subs))};
    endif
    sub = args{3};
    if (ischar (sub) && any (strcmp (sub, {"kd", "kd2"})) && rand () < 0.6)
      args = [args(1:3), gate_arguments()];
      if (rand () < 0.7)
        args = args(1:8 + strcmp (sub, "kd"));
      else
        args = args(1:min (numel (args), randi ([3 10])));
      endif
    elseif (ischar (sub) && strcmp (sub, "knnsearch") && rand () < 0.6)
      args = [args(1:3), {random_points(), random_k()}];
    endif
  endif
  nout = randi ([0 10]);
  if (rand () < 0.5)
    nout = expected_outputs (args);
  elseif (rand () < 0.6)
    nout = randi ([0 3]);
  endif
endfunction

## The output count a well-formed call of this kind asks for.
function nout = expected_outputs (args)
  nout = 1;
  if (numel (args) >= 3 && ischar (args{3}))
    nout = max (1, find (strcmp (args{3}, {"kd2", "knnsearch", "kd"}), 1));
    if (isempty (nout))
      nout = 1;
    endif
  endif
endfunction

function h = random_handle (live, dead, foreign)
  u = rand ();
  if (u < 0.55 && ! isempty (live))
    h = live{randi (numel (live))};
  elseif (u < 0.62 && ! isempty (dead))
    h = dead{randi (numel (dead))};
  elseif (u < 0.65)
    h = foreign{1};
  elseif (u < 0.75)
    h = uint8 ([0 0 0 0]);
  elseif (u < 0.85)
    h = uint8 (randi ([0 255], 1, 4));
  else
    shapes = {uint8([1 2 3]), int8([1 2 3 4]), [0 0 0 0], reshape(uint8(1:4), 2, 2), uint8(zeros(1, 5)), "abcd", {}};
    h = shapes{randi (numel (shapes))};
  endif
endfunction

function p = random_points ()
  n = randi ([0 40]);
  p = 10 * randn (3, n);
  if (rand () < 0.1 && n > 0)
    p(randi (numel (p))) = [NaN, Inf, -Inf, 1e300]( randi (4));
  endif
  if (rand () < 0.15)
    p = random_value ();
  endif
endfunction

function K = random_k ()
  values = {0, 1, 3, 2.9, 10, 100, -1, NaN, Inf, 2^31, 2^40, [1 2], int32(3), 3i, [], sparse(2)};
  K = values{randi (numel (values))};
endfunction

function a = gate_arguments ()
  n = randi ([0 30]);
  m = randi ([0 8]);
  points = 5 * randn (3, n);
  ids = randi ([0 m], 3, n + randi ([0 2]));
  if (rand () < 0.2 && numel (ids) > 0)
    ids(randi (numel (ids))) = [NaN, -1, m + 1, 0.5, 1e12, -0.5]( randi (6));
  endif
  means = 5 * randn (3, m);
  covs = randn (9, m) .^ 2;
  covs(:, rand (1, m) < 0.2) = 0;
  if (rand () < 0.1)
    covs = covs(:, 1:end-1);
  endif
  a = {points, ids, means, covs, 3*rand(), 5*rand()};
  if (rand () < 0.15)
    a{randi (6)} = random_value ();
  endif
endfunction

function v = random_value ()
  switch (randi (16))
    case 1, v = randn (3, randi ([0 5]));
    case 2, v = single (randn (3, 2));
    case 3, v = int32 (randi (9, 3, 2));
    case 4, v = true (3, 1);
    case 5, v = "text";
    case 6, v = {1, 2};
    case 7, v = struct ("a", 1);
    case 8, v = @sin;
    case 9, v = sparse (randn (3, 3));
    case 10, v = randn (3, 2) + 1i;
    case 11, v = zeros (0, 0);
    case 12, v = zeros (3, 2, 2);
    case 13, v = zeros (0, 2^31 + 5);   # huge column count, no data
    case 14, v = [NaN Inf -Inf -1 0.5 1e300];
    case 15, v = randn (9, randi ([0 4]));
    case 16, v = uint8 ([0 0 0 0]);
  endswitch
endfunction

function s = describe (args, nout)
  parts = cellfun (@(a) sprintf ("%s %s", class (a), mat2str (size (a))), args, "UniformOutput", false);
  s = sprintf ("nout %d, args: %s", nout, strjoin (parts, "; "));
endfunction
