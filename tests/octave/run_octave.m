## [status, output] = run_octave (code, env)
## Runs code in a fresh octave-cli with the built modules on its path;
## env, if given, is a prefix of environment settings ("OMP_NUM_THREADS=1").
function [status, output] = run_octave (code, env = "")
  cli = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
  mexdir = fileparts (which ("tessary"));
  script = [tempname() ".m"];
  fid = fopen (script, "w");
  fprintf (fid, "addpath ('%s');\n%s\n", mexdir, code);
  fclose (fid);
  [status, output] = system (sprintf ('%s "%s" --no-gui --norc --quiet --no-history "%s" 2>&1', env, cli, script));
  delete (script);
endfunction
