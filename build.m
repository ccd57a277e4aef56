% build  Build the tessary and corvane modules from inside Octave or MATLAB.
%
%   build            compile both modules into inst/, beside the wrapper
%   build(OUTDIR)    compile them into OUTDIR instead
%
% Run it from any folder; afterwards addpath the output folder. Needs a
% C++17 compiler with OpenMP, Eigen 3 and nanoflann (on Debian:
% libeigen3-dev, libnanoflann-dev). In Octave it calls mkoctfile --mex;
% the MATLAB branch calls mex and is untested.
function build(outdir)
  root = fileparts(mfilename('fullpath'));
  if nargin < 1
    outdir = fullfile(root, 'inst');
  end
  inc = {['-I' fullfile(root, 'common')], ['-I' fullfile(root, 'tessary')], ['-I' eigenInclude()]};
  front = inFolder(root, 'common', {'dispatch.cpp', 'arguments.cpp', 'persistent_memory.cpp', ...
                                    'error_report.cpp', 'handle_registry.cpp'});
  core = inFolder(root, 'tessary', {'tessary_module.cpp', 'point_index.cpp', 'knn_search.cpp', ...
                                    'gaussian_kernel.cpp', 'gaussian_gate.cpp', 'density_clusterer.cpp'});
  placeholder = inFolder(root, 'corvane', {'corvane_module.cpp'});
  exports = ['-Wl,--version-script=' fullfile(root, 'cmake', 'exports.map')];
  flags = '-std=c++17 -O2 -DNDEBUG -ffp-contract=off -fno-fast-math -fvisibility=hidden';
  compile('tessary', [front, core], inc, [flags ' -fopenmp'], ['-fopenmp ' exports], outdir);
  compile('corvane', [front, placeholder], inc, flags, exports, outdir);
  fprintf('built tessary and corvane in %s\n', outdir);
end

function files = inFolder(root, folder, names)
  files = cellfun(@(f) fullfile(root, folder, f), names, 'UniformOutput', false);
end

function compile(name, sources, inc, cxxflags, ldflags, outdir)
  here = pwd();
  work = tempname();
  mkdir(work);
  cd(work);  % object files stay out of the source tree
  try
    if exist('OCTAVE_VERSION', 'builtin')
      saved = {getenv('CXXFLAGS'), getenv('LDFLAGS')};
      setenv('CXXFLAGS', [mkoctfile('-p', 'CXXFLAGS') ' ' cxxflags]);
      setenv('LDFLAGS', [mkoctfile('-p', 'LDFLAGS') ' ' ldflags]);
      [out, status] = mkoctfile('--mex', '-o', fullfile(outdir, [name '.mex']), inc{:}, sources{:});
      setenv('CXXFLAGS', saved{1});
      setenv('LDFLAGS', saved{2});
      if status ~= 0
        error('build:failed', 'build: compiling %s failed:\n%s', name, out);
      end
    else
      mex(['CXXFLAGS=$CXXFLAGS ' cxxflags], ['LDFLAGS=$LDFLAGS ' ldflags], inc{:}, ...
          '-outdir', outdir, '-output', name, sources{:});
    end
  catch err
    cd(here);
    rmdir(work, 's');
    rethrow(err);
  end
  cd(here);
  rmdir(work, 's');
end

function d = eigenInclude()
  [status, out] = system('pkg-config --cflags-only-I eigen3');
  d = strtrim(strrep(out, '-I', ''));
  if status ~= 0 || isempty(d)
    d = '/usr/include/eigen3';
  end
end
