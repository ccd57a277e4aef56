function [points, ids, means, covs] = gateInputs(component, points, ids, means, covs)
% gateInputs  The gate's arguments, checked, in the layout of tessary's
% 'kdrows' and 'kd2rows': points N x 3, ids N x k, means G x 3 and covs
% 9 x G, all double.
%   points  N x 3 single or double (or a pointCloud)
%   ids     N x k, k <= 3: Gaussian numbers (rows of means), as knnsearch
%           over PointCloudIndex(means) returns them; missing columns and
%           entries of 0 mean "no candidate"
%   means   G x 3;  covs  gmdistribution's Sigma: 3 x 3 x G, 3 x 3 (shared),
%           1 x 3 x G (diagonal) or 1 x 3 (shared diagonal)
points = pointRows(points, component, 'points');
n = size(points, 1);
means = pointRows(means, component, 'means');
g = size(means, 1);
% The values are tessary's to check, in the same pass as the gate.
% Each test first, as it costs nothing; validateattributes names the fault.
if ~(isnumeric(ids) && isreal(ids) && ~issparse(ids) && ndims(ids) == 2 && size(ids, 1) == n)
  requireAttributes(ids, {'numeric'}, {'real', '2d', 'nrows', n, 'nonsparse'}, component, 'ids');
end
if size(ids, 2) > 3
  error([component ':badIds'], '%s: ids must have at most 3 columns (not %d)', component, size(ids, 2));
end
covs = sigmaColumns(covs, g, component);
ids = double(ids);
end
