function [in, inUpper, labels] = gateAndCluster(points, ids, means, covs, mahal, mahalUpper, varargin)
% gateAndCluster  Gate points at two levels and cluster the rejected ones.
%
%   [IN, INUPPER, LABELS] = gateAndCluster(POINTS, IDS, MEANS, COVS, MAHAL, MAHALUPPER)
%   [...] = gateAndCluster(..., 'Epsilon', EPSILON, 'MinPoints', MINPTS)
%     POINTS, IDS, MEANS, COVS as for gaussianGate: POINTS N x 3, IDS N x k
%     (k <= 3, 0 for no candidate), MEANS G x 3, COVS in any form of
%     gmdistribution's Sigma (3 x 3 x G, 3 x 3, 1 x 3 x G or 1 x 3).
%     MAHAL       the strict threshold; MAHALUPPER the second one: both on
%                 the Mahalanobis distance, not its square.
%     IN          N x 1 logical: IN(i) is true when the first candidate of
%                 point i, in column order, that passes either threshold
%                 passes MAHAL.
%     INUPPER     N x 1 logical: true where some candidate passed either.
%     LABELS      N x 1 double, one per point: 0 where IN is true; for the
%                 rejected points their DBSCAN clusters as MATLAB's dbscan
%                 numbers them: -1 for noise, 1, 2, ... for the clusters in
%                 the order they form, scanning the rejected points by row.
%     EPSILON, MINPTS  the clustering's radius and the points that make a
%                 core point, itself counted (as dbscan's): defaults 0.75
%                 (metres, for a lidar scan) and 5. At the defaults the
%                 distance is computed in single precision, as tessary's
%                 'kd' computes it; at any other values the labels are those
%                 of densityClusters(POINTS(~IN, :), EPSILON, MINPTS), in
%                 double precision, EPSILON from 1e-150 to 1e150. Option
%                 names as PointCloudIndex takes them (any case, an
%                 unambiguous leading part, character vector or string).
%
%   The distance is that of gaussianGate. Unlike gaussianGate, a candidate
%   that passes only MAHALUPPER decides the point (IN false, INUPPER true)
%   even when a later candidate would pass MAHAL. The clusters are found
%   only when LABELS is asked for. This is tessary's 'kd' (help tessary) on
%   rows.
%
%   Errors carry the identifiers gateAndCluster:badPoints, :badIds,
%   :badMeans, :badCovs, :badMahal, :badMahalUpper, :badEpsilon,
%   :badMinPoints, :badOption and :tooFewInputs.
%
% Example:
%   M = PointCloudIndex(means);
%   ids = knnsearch(M, points, 'K', 3);
%   [in, inUpper, labels] = gateAndCluster(points, ids, means, covs, 3, 5);
%   moving = points(labels > 0, :);
%
% See also gaussianGate, PointCloudIndex, tessary.
if nargin < 6
  error('gateAndCluster:tooFewInputs', ...
        'gateAndCluster: call gateAndCluster(points, ids, means, covs, mahal, mahalUpper)');
end
[points, ids, means, covs] = gateInputs('gateAndCluster', points, ids, means, covs);
requireScalar(mahal, 'gateAndCluster', 'mahal');
requireScalar(mahalUpper, 'gateAndCluster', 'mahalUpper');
options = nameValueOptions(varargin, {'Epsilon', 'MinPoints'}, {0.75, 5}, 'gateAndCluster', 'gateAndCluster');
epsilon = options.Epsilon;
minpts = options.MinPoints;
if ~isClusterRadius(epsilon)
  error('gateAndCluster:badEpsilon', 'gateAndCluster: Epsilon must be a scalar from 1e-150 to 1e150');
end
if ~isCount(minpts)
  error('gateAndCluster:badMinPoints', 'gateAndCluster: MinPoints must be a positive integer');
end
% 'kd' clusters at the defaults itself, in single precision.
atDefaults = double(epsilon) == 0.75 && double(minpts) == 5;
out = cell(1, max(min(nargout, 2 + atDefaults), 1));
[out{:}] = callGate('gateAndCluster', 'kdrows', points, ids, means, covs, double(mahal), double(mahalUpper));
in = out{1};
if nargout > 1
  inUpper = out{2};
end
if nargout > 2 && atDefaults
  labels = out{3};
elseif nargout > 2
  labels = zeros(size(in));
  labels(~in) = densityClusters(points(~in, :), double(epsilon), double(minpts));
end
end
