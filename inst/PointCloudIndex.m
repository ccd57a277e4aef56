classdef PointCloudIndex < handle
% PointCloudIndex  KD-tree index of a 3-D point cloud: exact knnsearch and rangesearch on a private copy.
%
%   P = PointCloudIndex(X)
%   P = PointCloudIndex(X, 'Distance', 'euclidean', 'BucketSize', B)
%     X  M x 3 single or double, one point per row, or a pointCloud
%        (anything with a Location property of M x 3, or M x N x 3 for an
%        organised cloud). Points with a NaN or Inf coordinate are left
%        out of the index; they keep their row.
%     The options are KDTreeSearcher's
%     (https://www.mathworks.com/help/stats/kdtreesearcher.html) that can
%     answer alike here: 'Distance' takes 'euclidean' only; 'BucketSize'
%     (a positive integer, the most points of a leaf there) is checked and
%     otherwise changes nothing: the tree keeps leaves of at most 10 points,
%     and an exact search gives the same answers whatever the leaves hold.
%   P = PointCloudIndex()
%     An empty index.
%
%   Names of options, here and in knnsearch and rangesearch, are character
%   vectors or string scalars (Name=Value passes those), in any case, and
%   an unambiguous leading part of a name will do ('k', 'dist').
%
%   Properties (read-only):
%     X      the points as given, M x 3 double (M*N x 3 for an organised
%            cloud, in linear order), invalid points included: X(idx, :)
%            are the neighbours knnsearch returns.
%     Count  the number of points indexed (the valid ones).
%
%   [IDX, D] = knnsearch(P, Y)
%   [IDX, D] = knnsearch(P, Y, 'K', K, 'IncludeTies', TF, 'Distance', 'euclidean')
%     Y    query points as X: M x 3 single or double, or a pointCloud.
%     K    positive integer, default 1; k = min(K, Count).
%     IDX  M x k double: row i holds the row numbers in X of the k points
%          nearest to query i, nearest first. Among equal (squared)
%          distances the smaller row of X comes first, and at the k-th
%          place the smallest rows are kept: what a stable sort of all the
%          distances gives.
%     D    M x k double: their Euclidean distances.
%     With 'IncludeTies' true, IDX and D are M x 1 cell arrays of row
%     vectors holding every point at most the k-th smallest distance away,
%     nearest first, ties by row. 'Distance' accepts 'euclidean' only.
%     The options are those of KDTreeSearcher's knnsearch
%     (https://www.mathworks.com/help/stats/kdtreesearcher.knnsearch.html)
%     that apply to its one metric here.
%     A query with a NaN coordinate gets the rows 1:k and D NaN; one with
%     an infinite coordinate (or so far off that its squared distance
%     overflows) the rows 1:k and D Inf.
%
%   [IDX, D] = rangesearch(P, Y, R)
%   [IDX, D] = rangesearch(P, Y, R, 'SortIndices', TF, 'Distance', 'euclidean')
%     R    finite scalar >= 0.
%     IDX  M x 1 cell array: IDX{i} is a 1 x n row of the rows of X at a
%          Euclidean distance of at most R from query i, nearest first and
%          ties by row; with 'SortIndices' false in the order the search
%          meets them (the same rows, sooner). A query with a NaN
%          coordinate, or with no point within R, gets a 1 x 0 row.
%     D    M x 1 cell array of the matching distances, computed as the
%          module's knnsearch computes them: sqrt((dx^2 + dy^2) + dz^2).
%     The arguments are those of KDTreeSearcher's rangesearch
%     (https://www.mathworks.com/help/stats/kdtreesearcher.rangesearch.html)
%     that apply to its one metric here.
%
%   Saving, loading and parallel workers. The native index lives in the
%   tessary module of one MATLAB session and is never saved: save keeps X,
%   and load (loadobj) builds a new, independent index from it, as does
%   every parfor worker that receives P. (Octave 7 calls neither: its own
%   formats refuse a classdef object, and -v6 or -v7 save a struct of
%   every property, the private ones among them, with a warning, which
%   load gives back as that struct; PointCloudIndex(s.X) rebuilds the
%   index.) A large map that each worker should build only once:
%     C = parallel.pool.Constant(@() PointCloudIndex(map));
%     parfor k = 1:numel(scans)
%       idx{k} = knnsearch(C.Value, scans{k}, 'K', 3);
%     end
%
%   The index is deleted with the last reference to P (clear P).
%   Argument errors carry the identifiers PointCloudIndex:badX, :badY,
%   :badK, :badR, :badBucketSize, :badOption and :tooFewInputs, and PointCloudIndex:deleted
%   for a search on an index that delete(P) has deleted; the module's own
%   are tessary's (help tessary).
%
% Example:
%   P = PointCloudIndex(rand(1000, 3));
%   [idx, D] = knnsearch(P, rand(5, 3), 'K', 3);
%   nearest = P.X(idx(:, 1), :);
%
% See also gaussianGate, gateAndCluster, voxelGaussians, tessary.

  properties (SetAccess = private)
    X = zeros(0, 3);
    Count = 0;
  end

  properties (Access = private, Transient)
    % The tessary object; [] when nothing is indexed.
    Handle = [];
    % Row numbers in X of the indexed points; [] when every row is valid.
    Rows = [];
  end

  methods

    function obj = PointCloudIndex(X, varargin)
      if nargin == 0
        return;
      end
      obj.X = pointRows(X, 'PointCloudIndex', 'X');
      options = nameValueOptions(varargin, {'Distance', 'BucketSize'}, {'euclidean', 50}, 'PointCloudIndex', ...
                                 'PointCloudIndex');
      requireEuclidean(options.Distance, 'PointCloudIndex');
      b = options.BucketSize;
      if ~(isnumeric(b) && isscalar(b) && isreal(b) && b >= 1 && b == fix(b))
        error('PointCloudIndex:badBucketSize', 'PointCloudIndex: BucketSize must be a positive integer');
      end
      valid = all(isfinite(obj.X), 2);
      obj.Count = sum(valid);
      if obj.Count == 0
        return;
      end
      if obj.Count == size(obj.X, 1)
        pts = obj.X';
      else
        obj.Rows = find(valid);
        pts = obj.X(valid, :)';
      end
      h = [];  % set by the call inside evalc, which keeps its printed line
      evalc('h = tessary(''init'', pts);');
      obj.Handle = h;
    end

    function [idx, D] = knnsearch(obj, Y, varargin)
      if nargin < 2
        error('PointCloudIndex:tooFewInputs', 'knnsearch: call knnsearch(P, Y, ...)');
      end
      requireLive(obj, 'knnsearch');
      Y = pointRows(Y, 'PointCloudIndex', 'Y');
      [K, includeTies] = searchOptions(varargin, 'knnsearch', {'K', 'IncludeTies'});
      k = min(K, obj.Count);
      m = size(Y, 1);
      if k == 0 || m == 0
        [idx, D] = emptyResult(m, k, includeTies);
        return;
      end
      [idx, D] = tessary('do', obj.Handle, 'knnrows', Y, k, obj.Rows, double(includeTies));
    end

    function [idx, D] = rangesearch(obj, Y, r, varargin)
      if nargin < 3
        error('PointCloudIndex:tooFewInputs', 'rangesearch: call rangesearch(P, Y, r, ...)');
      end
      requireLive(obj, 'rangesearch');
      Y = pointRows(Y, 'PointCloudIndex', 'Y');
      if ~(isnumeric(r) && isscalar(r) && isreal(r) && r >= 0 && isfinite(r))
        error('PointCloudIndex:badR', 'rangesearch: r must be a finite scalar of at least 0');
      end
      [~, ~, sorted] = searchOptions(varargin, 'rangesearch', {'SortIndices'});
      m = size(Y, 1);
      if obj.Count == 0 || m == 0
        idx = repmat({zeros(1, 0)}, m, 1);
        D = idx;
        return;
      end
      [idx, D] = tessary('do', obj.Handle, 'rangerows', Y, double(r), obj.Rows, double(sorted));
    end

    function s = saveobj(obj)
      s = struct('X', obj.X);
    end

    function delete(obj)
      h = obj.Handle;
      obj.Handle = [];
      if isempty(h)
        return;
      end
      % A destructor must not throw: a handle that no longer names an
      % object of this session's module has nothing left to free.
      try
        evalc('ok = tessary(''delete'', h);');
      catch
      end
    end

    function disp(obj)
      fprintf('  PointCloudIndex of %d points\n', obj.Count);
    end

  end

  methods (Access = private)

    % A deleted index holds no handle, though it still counts its points.
    function requireLive(obj, caller)
      if isempty(obj.Handle) && obj.Count > 0
        error('PointCloudIndex:deleted', '%s: this PointCloudIndex has been deleted', caller);
      end
    end

  end

  methods (Static)

    function obj = loadobj(s)
      obj = PointCloudIndex(s.X);
    end

  end

end

% The name-value options of knnsearch and rangesearch: 'K' (default 1),
% 'IncludeTies' and 'SortIndices' (true or false, logical or 0/1; defaults
% false and true) where `allowed` names them, and 'Distance', whose one
% value here is 'euclidean'.
function [K, includeTies, sorted] = searchOptions(options, caller, allowed)
names = [allowed, {'Distance'}];
values = struct('K', 1, 'IncludeTies', false, 'SortIndices', true, 'Distance', 'euclidean');
given = nameValueOptions(options, names, cellfun(@(n) values.(n), names, 'UniformOutput', false), ...
                         'PointCloudIndex', caller);
for k = 1:numel(names)
  values.(names{k}) = given.(names{k});
end
requireEuclidean(values.Distance, caller);
includeTies = switchValue(values.IncludeTies, caller, 'IncludeTies');
sorted = switchValue(values.SortIndices, caller, 'SortIndices');
K = values.K;
if ~(isnumeric(K) && isscalar(K) && isreal(K) && K >= 1 && K == fix(K))
  requireAttributes(K, {'numeric'}, {'scalar', 'integer', 'positive'}, 'PointCloudIndex', 'K');
end
K = double(K);
end

function requireEuclidean(distance, caller)
if ~(ischar(distance) && strcmpi(distance, 'euclidean'))
  error('PointCloudIndex:badOption', '%s: the one Distance supported is euclidean', caller);
end
end

function on = switchValue(value, caller, name)
if ~((islogical(value) || isnumeric(value)) && isscalar(value) && (value == 0 || value == 1))
  error('PointCloudIndex:badOption', '%s: %s must be true or false', caller, name);
end
on = logical(value);
end

% Results for no queries or no neighbours, shaped as the search's.
function [idx, D] = emptyResult(m, k, includeTies)
idx = zeros(m, k);
D = zeros(m, k);
if includeTies
  idx = repmat({zeros(1, k)}, m, 1);
  D = idx;
end
end
