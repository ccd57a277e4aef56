## build's dry run: the mex calls MATLAB on macOS would make with Xcode's
## clang, with and without libomp, printed on any host.

%!function lines = dry_run (ext, compiler)
%!  root = fileparts (fileparts (fileparts (which ("test_build"))));
%!  addpath (root);
%!  lines = strsplit (strtrim (evalc ("build (tempdir (), 'DryRun', ext, compiler)")), "\n");
%!  rmpath (root);
%!endfunction

%!function check_complete (line, name)
%!  ## One module's call: its output name, the arithmetic flags, and the
%!  ## sources modules.mk gives the module, each once.
%!  assert (! isempty (strfind (line, ["'-output', '" name "'"])));
%!  assert (! isempty (strfind (line, "-ffp-contract=off -fno-fast-math")));
%!  assert (! isempty (strfind (line, "'-DEIGEN_DONT_VECTORIZE'")));
%!  assert (isempty (regexp (line, "-static|-msse2|/openmp", "once")));
%!  root = fileparts (fileparts (fileparts (which ("test_build"))));
%!  mk = fileread (fullfile (root, "modules.mk"));
%!  own = {"TESSARY_CORE", "TESSARY_MEX"};
%!  if (strcmp (name, "corvane"))
%!    own = {"CORVANE_MEX"};
%!  endif
%!  expected = {};
%!  for variable = [{"COMMON_CORE", "COMMON_MEX"}, own]
%!    value = regexp (mk, ["^" variable{1} " :=([^\n]*)$"], "tokens", "once", "lineanchors");
%!    files = strcat ([root "/"], regexp (value{1}, "\\S+", "match"));
%!    expected = [expected, files];
%!  endfor
%!  sources = regexp (line, "'([^']+\\.cpp)'", "tokens");
%!  assert (sort ([sources{:}]), sort (expected));
%!endfunction

%!test
%! saved = getenv ("LIBOMP_DIR");
%! unwind_protect
%!   setenv ("LIBOMP_DIR", "none");
%!   lines = dry_run ("mexmaca64", "Clang++");
%!   assert (numel (lines), 3);
%!   assert (lines{1}, "build: no libomp found (brew install libomp, or setenv LIBOMP_DIR): tessary will run on one thread");
%!   check_complete (lines{2}, "tessary");
%!   check_complete (lines{3}, "corvane");
%!   assert (isempty (strfind ([lines{:}], "openmp")));
%!   ## Homebrew's layout, then MacPorts'.
%!   prefix = tempname ();
%!   for layout = {{"include", "lib"}, {"include/libomp", "lib/libomp"}}
%!     mkdir (fullfile (prefix, layout{1}{1}));
%!     fclose (fopen (fullfile (prefix, layout{1}{1}, "omp.h"), "w"));
%!     setenv ("LIBOMP_DIR", prefix);
%!     lines = dry_run ("mexmaci64", "Clang++");
%!     assert (numel (lines), 2);
%!     check_complete (lines{1}, "tessary");
%!     check_complete (lines{2}, "corvane");
%!     libs = fullfile (prefix, layout{1}{2});
%!     assert (! isempty (strfind (lines{1}, ["-Xpreprocessor -fopenmp -I" fullfile(prefix, layout{1}{1}) "'"])));
%!     assert (! isempty (strfind (lines{1}, ["'LDFLAGS=$LDFLAGS -L" libs " -lomp -Wl,-rpath," libs "'"])));
%!     assert (isempty (strfind (lines{2}, "openmp")));
%!     confirm_recursive_rmdir (false, "local");
%!     rmdir (prefix, "s");
%!   endfor
%! unwind_protect_cleanup
%!   setenv ("LIBOMP_DIR", saved);
%! end_unwind_protect
