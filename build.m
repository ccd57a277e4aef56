function build(outdir)
% build  Build the tessary and corvane modules from inside MATLAB or Octave.
%
%   build            compile both modules into inst/, beside the wrapper
%   build(OUTDIR)    compile them into OUTDIR instead
%
% Run it from any folder; afterwards addpath the output folder. It needs a
% C++17 compiler with OpenMP and the headers of Eigen 3 and nanoflann 1.4.x,
% found through pkg-config where there is one (Debian: libeigen3-dev,
% libnanoflann-dev); elsewhere set the environment variables
% EIGEN3_INCLUDE_DIR and NANOFLANN_INCLUDE_DIR to their folders first.
%
% Octave compiles with mkoctfile --mex. MATLAB compiles with mex and the C++
% compiler that mex -setup C++ selected: MinGW-w64 or Microsoft Visual C++
% on Windows, GCC on Linux. The MATLAB branch is untested.
root = fileparts(mfilename('fullpath'));
if nargin < 1
  outdir = fullfile(root, 'inst');
end
inc = {['-I' fullfile(root, 'common')], ['-I' fullfile(root, 'tessary')]};
inc = [inc, headerFolder('EIGEN3_INCLUDE_DIR', 'eigen3'), headerFolder('NANOFLANN_INCLUDE_DIR', 'nanoflann')];
front = inFolder(root, 'common', {'dispatch.cpp', 'arguments.cpp', 'persistent_memory.cpp', ...
                                  'error_report.cpp', 'handle_registry.cpp'});
core = inFolder(root, 'tessary', {'tessary_module.cpp', 'worker_threads.cpp', 'point_index.cpp', 'tree_builder.cpp', 'knn_search.cpp', ...
                                  'gaussian_kernel.cpp', 'gaussian_gate.cpp', 'density_clusterer.cpp'});
placeholder = inFolder(root, 'corvane', {'corvane_module.cpp'});
compile(root, 'tessary', [front, core], inc, true, outdir);
compile(root, 'corvane', [front, placeholder], inc, false, outdir);
fprintf('built tessary and corvane in %s\n', outdir);
end

function files = inFolder(root, folder, names)
files = cellfun(@(f) fullfile(root, folder, f), names, 'UniformOutput', false);
end

% An -I option for a library's headers: the environment variable's folder,
% else pkg-config's; none when the compiler finds them by itself.
function option = headerFolder(variable, package)
option = {};
folder = getenv(variable);
if isempty(folder)
  [status, out] = system(['pkg-config --cflags-only-I ' package]);
  if status == 0
    folder = strtrim(strrep(out, '-I', ''));
  end
end
if ~isempty(folder)
  option = {['-I' folder]};
end
end

function compile(root, name, sources, inc, openmp, outdir)
here = pwd();
work = tempname();
mkdir(work);
cd(work);  % object files stay out of the source tree
try
  if exist('OCTAVE_VERSION', 'builtin')
    compileOctave(root, name, sources, inc, openmp, outdir);
  else
    compileMatlab(name, sources, inc, openmp, outdir);
  end
catch err
  cd(here);
  rmdir(work, 's');
  rethrow(err);
end
cd(here);
rmdir(work, 's');
end

% The same settings as the CMake build: no fast-math, no contraction of
% floating-point operations, mexFunction the only export.
function compileOctave(root, name, sources, inc, openmp, outdir)
cxx = '-std=c++17 -O2 -DNDEBUG -ffp-contract=off -fno-fast-math -fvisibility=hidden';
ld = ['-Wl,--version-script=' fullfile(root, 'cmake', 'exports.map')];
if openmp
  cxx = [cxx ' -fopenmp'];
  ld = ['-fopenmp ' ld];
end
saved = {getenv('CXXFLAGS'), getenv('LDFLAGS')};
setenv('CXXFLAGS', [mkoctfile('-p', 'CXXFLAGS') ' ' cxx]);
setenv('LDFLAGS', [mkoctfile('-p', 'LDFLAGS') ' ' ld]);
[out, status] = mkoctfile('--mex', '-o', fullfile(outdir, [name '.mex']), inc{:}, sources{:});
setenv('CXXFLAGS', saved{1});
setenv('LDFLAGS', saved{2});
if status ~= 0
  error('build:failed', 'build: compiling %s failed:\n%s', name, out);
end
end

% MATLAB's own mex exports mexFunction alone. Visual C++ contracts
% floating-point operations only where it may use FMA instructions
% (/arch:AVX2 and above), which these flags do not allow.
function compileMatlab(name, sources, inc, openmp, outdir)
cc = mex.getCompilerConfigurations('C++', 'Selected');
if isempty(cc)
  error('build:noCompiler', 'build: no C++ compiler is selected; run mex -setup C++');
end
if strncmpi(cc.ShortName, 'MSVC', 4)
  cxx = '/std:c++17 /O2 /DNDEBUG /fp:precise';
  if openmp
    cxx = [cxx ' /openmp'];
  end
  flags = {['COMPFLAGS=$COMPFLAGS ' cxx]};
else
  cxx = '-std=c++17 -O2 -DNDEBUG -ffp-contract=off -fno-fast-math -fvisibility=hidden';
  ld = '';
  if openmp
    cxx = [cxx ' -fopenmp'];
    ld = ' -fopenmp';
  end
  if ispc
    % A module that stands alone: the OpenMP and C++ runtimes linked in.
    ld = [ld ' -static'];
  end
  if strcmp(computer('arch'), 'win32')
    % SSE2, never x87, and no 16-byte stack alignment assumed from MATLAB.
    cxx = [cxx ' -msse2 -mfpmath=sse -mincoming-stack-boundary=2'];
  end
  flags = {['CXXFLAGS=$CXXFLAGS ' cxx], ['LDFLAGS=$LDFLAGS' ld]};
end
mex('-largeArrayDims', flags{:}, inc{:}, '-outdir', outdir, '-output', name, sources{:});
end
