function P = pointRows(X, component, name)
% pointRows  Points as the rows of an M x 3 double matrix.
%   X is an M x 3 single or double matrix, or a pointCloud: anything with a
%   Location property (or field) of M x 3 or, for an organised cloud,
%   M x N x 3, whose points come in the order of linear indexing. Invalid
%   points (NaN, Inf) stay where they are; what to do with them is the
%   caller's business.
if isobject(X) || isstruct(X)
  if ~isscalar(X) || ~(isstruct(X) && isfield(X, 'Location') || isobject(X) && isprop(X, 'Location'))
    error([component ':bad' name], ...
          '%s: %s must be an M x 3 matrix or a point cloud with a Location property', component, name);
  end
  X = X.Location;
  if ndims(X) == 3 && size(X, 3) == 3
    X = reshape(X, [], 3);
  end
end
% The test first, as it costs nothing; validateattributes names the fault.
if ~(isfloat(X) && isreal(X) && ~issparse(X) && ndims(X) == 2 && size(X, 2) == 3)
  requireAttributes(X, {'single', 'double'}, {'real', '2d', 'ncols', 3, 'nonsparse'}, component, name);
end
P = double(X);
end
