function [in, inUpper, labels] = gateAndCluster(points, ids, means, covs, mahal, mahalUpper)
% gateAndCluster  Gate points at two levels and cluster the rejected ones.
%
%   [IN, INUPPER, LABELS] = gateAndCluster(POINTS, IDS, MEANS, COVS, MAHAL, MAHALUPPER)
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
%                 rejected points the DBSCAN clusters (minPts 5, eps 0.75,
%                 Euclidean distance in single precision) as MATLAB's dbscan
%                 numbers them: -1 for noise, 1, 2, ... for the clusters in
%                 the order they form, scanning the rejected points by row.
%
%   The distance is that of gaussianGate. Unlike gaussianGate, a candidate
%   that passes only MAHALUPPER decides the point (IN false, INUPPER true)
%   even when a later candidate would pass MAHAL. The clusters are found
%   only when LABELS is asked for. This is tessary's 'kd' (help tessary) on
%   rows.
%
%   Errors carry the identifiers gateAndCluster:badPoints, :badIds,
%   :badMeans, :badCovs, :badMahal, :badMahalUpper and :tooFewInputs.
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
out = cell(1, max(nargout, 1));
[out{:}] = callGate('gateAndCluster', 'kdrows', points, ids, means, covs, double(mahal), double(mahalUpper));
in = out{1};
if nargout > 1
  inUpper = out{2};
end
if nargout > 2
  labels = out{3};
end
end
