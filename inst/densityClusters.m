function [idx, corepts] = densityClusters(X, epsilon, minpts)
% densityClusters  Density-based clustering (DBSCAN) of points in 1, 2 or 3 dimensions.
%
%   [IDX, COREPTS] = densityClusters(X, EPSILON, MINPTS)
%     X        M x 3, M x 2 or M x 1 single or double, one point per row
%              (M x 2 for the ground plane: the labels are those of the
%              same points with a third coordinate of 0), or a pointCloud
%              (as PointCloudIndex takes it).
%     EPSILON  scalar from 1e-150 to 1e150: the neighbourhood radius. Points
%              at a Euclidean distance of at most EPSILON, computed in double
%              precision as sqrt((dx^2 + dy^2) + dz^2), are neighbours; a
%              point is its own. Beyond that range the squares near EPSILON
%              overflow or underflow, and the computed distance no longer
%              answers as the geometry does, so it is refused.
%     MINPTS   positive integer: a core point has at least MINPTS points in
%              its neighbourhood, itself counted.
%     IDX      M x 1 double: -1 for noise; the clusters 1, 2, ... in the
%              order of their lowest-numbered core point. A border point
%              (not core, but a neighbour of a core point) joins the
%              lowest-numbered cluster among its core neighbours. These are
%              the labels of the textbook algorithm visiting the rows in
%              order.
%     COREPTS  M x 1 logical: true at the core points.
%
%   Rows with a NaN or Inf coordinate are noise and not core, and change
%   nothing for the others. The arguments are those of MATLAB's dbscan
%   (https://www.mathworks.com/help/stats/dbscan.html) with its default
%   Euclidean distance; the name differs so that the toolbox function stays
%   in reach. The clustering runs on every core over a grid of cells
%   smaller than EPSILON; the result does not depend on how many.
%
%   Errors carry the identifiers densityClusters:badX, :badEpsilon,
%   :badMinpts, :tooFewInputs and :keyOutOfRange (a coordinate farther than
%   2^38 * EPSILON from the origin).
%
% Example:
%   [idx, corepts] = densityClusters(scan, 0.75, 5);
%   clusters = max(idx);
%
% See also gateAndCluster, voxelGaussians.
if nargin < 3
  error('densityClusters:tooFewInputs', 'densityClusters: call densityClusters(X, epsilon, minpts)');
end
if isnumeric(X) && ndims(X) == 2 && size(X, 2) > 3
  error('densityClusters:badX', 'densityClusters: X must have 1, 2 or 3 columns (not %d)', size(X, 2));
end
if isnumeric(X) && ndims(X) == 2 && any(size(X, 2) == [1 2])
  X = [X, zeros(size(X, 1), 3 - size(X, 2), class(X))];
end
X = pointRows(X, 'densityClusters', 'X');
if ~isClusterRadius(epsilon)
  error('densityClusters:badEpsilon', 'densityClusters: epsilon must be a scalar from 1e-150 to 1e150');
end
if ~isCount(minpts)
  error('densityClusters:badMinpts', 'densityClusters: minpts must be a positive integer');
end
try
  [idx, corepts] = tessary('do', zeros(1, 4, 'uint8'), 'densityClusters', X, double(epsilon), double(minpts));
catch err
  if ~strcmp(err.identifier, 'tessary:keyOutOfRange')
    rethrow(err);
  end
  error('densityClusters:keyOutOfRange', 'densityClusters: X must lie within 2^38 * epsilon of the origin');
end
end
