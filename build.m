function build(outdir, varargin)
% build  Build the tessary and corvane modules from inside MATLAB or Octave.
%
%   build            compile both modules into inst/, beside the users' layer
%   build(OUTDIR)    compile them into OUTDIR instead
%   build(OUTDIR, 'DryRun', EXT, COMPILER)
%                    print the mex calls MATLAB would make for module files
%                    named *.EXT (as mexext names them) with the compiler
%                    whose ShortName is COMPILER (mex -setup C++ chose it:
%                    'Clang++' for Xcode, 'mingw64-g++', 'MSVCPP170', 'g++'),
%                    and run nothing; for example
%                    build('out', 'DryRun', 'mexmaca64', 'Clang++')
%
% Run it from any folder; afterwards addpath the output folder. It needs a
% C++17 compiler and the headers of Eigen 3, found through pkg-config where
% there is one (Debian: libeigen3-dev); elsewhere set the environment
% variable EIGEN3_INCLUDE_DIR to their folder first.
%
% Octave compiles with mkoctfile --mex. MATLAB compiles with mex and the C++
% compiler that mex -setup C++ selected: MinGW-w64 or Microsoft Visual C++
% on Windows, GCC on Linux, Xcode's clang on macOS. The MATLAB branch is
% untested; of the macOS one only the dry run is.
%
% tessary runs its loops on all cores with OpenMP. Xcode's clang has none of
% its own: build uses libomp where it finds one, in the folder the
% environment variable LIBOMP_DIR names (Homebrew's or MacPorts' prefix),
% else where brew --prefix libomp says; otherwise, or with LIBOMP_DIR set to
% none, tessary runs on one thread, with the same results.
root = fileparts(mfilename('fullpath'));
if nargin < 1
  outdir = fullfile(root, 'inst');
end
target = struct('dryRun', false, 'ext', '', 'compiler', '');
if numel(varargin) == 3 && strcmpi(varargin{1}, 'DryRun')
  target = struct('dryRun', true, 'ext', varargin{2}, 'compiler', varargin{3});
elseif ~isempty(varargin)
  error('build:badArguments', 'build: call build, build(OUTDIR) or build(OUTDIR, ''DryRun'', EXT, COMPILER)');
end
mk = moduleDescription(root);
inc = cellfun(@(d) ['-I' fullfile(root, d)], mk.INCLUDE_DIRS, 'UniformOutput', false);
inc = [inc, headerFolder('EIGEN3_INCLUDE_DIR', 'eigen3'), ...
       cellfun(@(d) ['-D' d], mk.ARITHMETIC_DEFINES, 'UniformOutput', false)];
front = [mk.COMMON_CORE, mk.COMMON_MEX];
compile(root, 'tessary', [front, mk.TESSARY_CORE, mk.TESSARY_MEX], inc, true, outdir, mk, target);
compile(root, 'corvane', [front, mk.CORVANE_MEX], inc, false, outdir, mk, target);
if ~target.dryRun
  fprintf('built tessary and corvane in %s\n', outdir);
end
end

% modules.mk, the one description of the modules' sources and flags: each
% NAME := values line as a field, a cell array of words; paths made full.
function mk = moduleDescription(root)
mk = struct();
text = fileread(fullfile(root, 'modules.mk'));
lines = regexp(text, '^([A-Z0-9_]+) :=([^\n]*)$', 'tokens', 'lineanchors');
for k = 1:numel(lines)
  mk.(lines{k}{1}) = regexp(lines{k}{2}, '\S+', 'match');
end
for name = {'COMMON_CORE', 'COMMON_MEX', 'TESSARY_CORE', 'TESSARY_MEX', 'CORVANE_MEX'}
  mk.(name{1}) = cellfun(@(f) fullfile(root, f), mk.(name{1}), 'UniformOutput', false);
end
end

% Words as options to append to a command line: ' a b'.
function flags = joined(words)
flags = sprintf(' %s', words{:});
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

function compile(root, name, sources, inc, openmp, outdir, mk, target)
if target.dryRun
  matlabMex(name, sources, inc, openmp, outdir, mk, target);
  return;
end
here = pwd();
work = tempname();
mkdir(work);
cd(work);  % object files stay out of the source tree
try
  if exist('OCTAVE_VERSION', 'builtin')
    compileOctave(root, name, sources, inc, openmp, outdir, mk);
  else
    cc = mex.getCompilerConfigurations('C++', 'Selected');
    if isempty(cc)
      error('build:noCompiler', 'build: no C++ compiler is selected; run mex -setup C++');
    end
    matlabMex(name, sources, inc, openmp, outdir, mk, struct('dryRun', false, 'ext', mexext, 'compiler', cc.ShortName));
  end
catch err
  cd(here);
  rmdir(work, 's');
  rethrow(err);
end
cd(here);
rmdir(work, 's');
end

% The same settings as the CMake build: the flags of modules.mk,
% mexFunction the only export.
function compileOctave(root, name, sources, inc, openmp, outdir, mk)
cxx = ['-std=c++17 -O2 -DNDEBUG' joined(mk.ARITHMETIC_FLAGS) joined(mk.VISIBILITY_FLAGS)];
ld = ['-Wl,--version-script=' fullfile(root, 'cmake', 'mexFunction.map')];
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

% MATLAB's own mex exports mexFunction alone and names the file by mexext.
% Visual C++ contracts floating-point operations only where it may use FMA
% instructions (/arch:AVX2 and above), which these flags do not allow.
function matlabMex(name, sources, inc, openmp, outdir, mk, target)
if strncmpi(target.compiler, 'MSVC', 4)
  cxx = ['/std:c++17 /O2 /DNDEBUG' joined(mk.MSVC_ARITHMETIC_FLAGS)];
  if openmp
    cxx = [cxx ' /openmp'];
  end
  flags = {['COMPFLAGS=$COMPFLAGS ' cxx]};
else
  cxx = ['-std=c++17 -O2 -DNDEBUG' joined(mk.ARITHMETIC_FLAGS) joined(mk.VISIBILITY_FLAGS)];
  ld = '';
  if openmp && ~isempty(strfind(target.compiler, 'Clang'))
    [cxx, ld] = withLibomp(cxx, ld);
  elseif openmp
    cxx = [cxx ' -fopenmp'];
    ld = ' -fopenmp';
  end
  if strncmp(target.ext, 'mexw', 4)
    % A module that stands alone: the OpenMP and C++ runtimes linked in.
    ld = [ld ' -static'];
  end
  if strcmp(target.ext, 'mexw32')
    cxx = [cxx joined(mk.X86_32_FLAGS) joined(mk.WINDOWS_X86_32_FLAGS)];
  end
  flags = {['CXXFLAGS=$CXXFLAGS ' cxx], ['LDFLAGS=$LDFLAGS' ld]};
end
args = [{'-largeArrayDims'}, flags, inc, {'-outdir', outdir, '-output', name}, sources];
if target.dryRun
  quoted = cellfun(@(a) ['''' strrep(a, '''', '''''') ''''], args, 'UniformOutput', false);
  fprintf('mex(%s)\n', strjoin(quoted, ', '));
else
  mex(args{:});
end
end

% Xcode's clang compiles OpenMP with -Xpreprocessor -fopenmp against the
% user's libomp: Homebrew's layout (include/, lib/) or MacPorts'
% (include/libomp/, lib/libomp/).
function [cxx, ld] = withLibomp(cxx, ld)
folder = getenv('LIBOMP_DIR');
if isempty(folder)
  [status, out] = system('brew --prefix libomp');
  if status == 0
    folder = strtrim(out);
  end
end
layouts = {{'include', 'lib'}, {fullfile('include', 'libomp'), fullfile('lib', 'libomp')}};
if isempty(folder) || strcmp(folder, 'none')
  layouts = {};
end
for k = 1:numel(layouts)
  headers = fullfile(folder, layouts{k}{1});
  libs = fullfile(folder, layouts{k}{2});
  if exist(fullfile(headers, 'omp.h'), 'file')
    cxx = [cxx ' -Xpreprocessor -fopenmp -I' headers];
    ld = [ld ' -L' libs ' -lomp -Wl,-rpath,' libs];
    return;
  end
end
fprintf('build: no libomp found (brew install libomp, or setenv LIBOMP_DIR): tessary will run on one thread\n');
end
