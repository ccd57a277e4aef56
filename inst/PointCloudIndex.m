classdef PointCloudIndex < handle
% PointCloudIndex  Exact K-nearest search over a private copy of a 3-D point cloud.
%
%   P = PointCloudIndex(X)
%     X  M x 3 single or double, one point per row, or a pointCloud
%        (anything with a Location property of M x 3, or M x N x 3 for an
%        organised cloud). Points with a NaN or Inf coordinate are left
%        out of the index, as KDTreeSearcher leaves out rows with NaN and
%        pointCloud's searches skip invalid points; they keep their row.
%   P = PointCloudIndex()
%     An empty index.
%
%   Properties (read-only):
%     X      the points as given, M x 3 double (M*N x 3 for an organised
%            cloud, in linear order), invalid points included: X(idx, :)
%            are the neighbours knnsearch returns.
%     Count  the number of points indexed (the valid ones).
%
%   [IDX, D] = knnsearch(P, Y)
%   [IDX, D] = knnsearch(P, Y, 'K', K)
%     Y    query points as X: M x 3 single or double, or a pointCloud.
%     K    positive integer, default 1.
%     IDX  M x k double: row i holds the row numbers in X of the k points
%          nearest to query i, nearest first (among equal distances, the
%          one the tree search meets first comes first).
%     D    M x k double: their Euclidean distances.
%     As documented for KDTreeSearcher's knnsearch
%     (https://www.mathworks.com/help/stats/kdtreesearcher.knnsearch.html):
%     k = min(K, Count), so a K larger than the index gives Count columns;
%     a query with a NaN coordinate gets IDX 1:k and D NaN, one with an
%     infinite coordinate (or so far off that its squared distance
%     overflows) IDX 1:k and D Inf.
%
%   Saving, loading and parallel workers. The native index lives in the
%   tessary module of one MATLAB session and is never saved: save keeps X,
%   and load (loadobj) builds a new, independent index from it, as does
%   every parfor worker that receives P. A large map that each worker
%   should build only once:
%     C = parallel.pool.Constant(@() PointCloudIndex(map));
%     parfor k = 1:numel(scans)
%       idx{k} = knnsearch(C.Value, scans{k}, 'K', 3);
%     end
%
%   The index is deleted with the last reference to P (clear P).
%   Argument errors carry the identifiers PointCloudIndex:badX, :badY,
%   :badK and :badOption; the module's own are tessary's (help tessary).
%
% Example:
%   P = PointCloudIndex(rand(1000, 3));
%   [idx, D] = knnsearch(P, rand(5, 3), 'K', 3);
%   nearest = P.X(idx(:, 1), :);
%
% See also gaussianGate, gateAndCluster, tessary.

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

    function obj = PointCloudIndex(X)
      if nargin == 0
        return;
      end
      obj.X = pointRows(X, 'PointCloudIndex', 'X');
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
      Y = pointRows(Y, 'PointCloudIndex', 'Y');
      k = min(neighbourCount(varargin), obj.Count);
      m = size(Y, 1);
      if k == 0 || m == 0
        idx = zeros(m, k);
        D = zeros(m, k);
        return;
      end
      [numbers, d2] = tessary('do', obj.Handle, 'knnsearch', Y', k);
      idx = numbers';
      % Queries the search found nothing for, their distances all NaN or
      % overflowing: slots fill in order, so theirs is the last one. nnz
      % looks for them without making a mask in the common case of none.
      if nnz(numbers) < numel(numbers)
        lost = idx(:, k) == 0;
      else
        lost = false(m, 1);
      end
      if ~isempty(obj.Rows)
        idx(lost, :) = 1;
        idx = reshape(obj.Rows(idx), m, k);
      end
      if any(lost)
        idx(lost, :) = repmat(1:k, nnz(lost), 1);
      end
      if nargout > 1
        D = sqrt(d2');
        D(lost, :) = Inf;
        D(lost & any(isnan(Y), 2), :) = NaN;
      end
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

  methods (Static)

    function obj = loadobj(s)
      obj = PointCloudIndex(s.X);
    end

  end

end

% The value of the 'K' option, the one name-value pair of MATLAB's
% knnsearch that applies here; names are matched regardless of case.
function K = neighbourCount(options)
K = 1;
if mod(numel(options), 2) ~= 0
  error('PointCloudIndex:badOption', 'knnsearch: options come in name-value pairs');
end
for i = 1:2:numel(options)
  if ~ischar(options{i}) || ~strcmpi(options{i}, 'K')
    error('PointCloudIndex:badOption', 'knnsearch: the only option is ''K'', the number of neighbours');
  end
  K = options{i + 1};
end
if ~(isnumeric(K) && isscalar(K) && isreal(K) && K >= 1 && K == fix(K))
  requireAttributes(K, {'numeric'}, {'scalar', 'integer', 'positive'}, 'PointCloudIndex', 'K');
end
K = double(K);
end
