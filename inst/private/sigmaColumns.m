function covs = sigmaColumns(covs, g, component)
% sigmaColumns  Covariances in any form of gmdistribution's Sigma, for G
% Gaussians, as the modules take them: 9 x G double, each column a 3 x 3
% covariance, column-major.
%   3 x 3 x G, or one 3 x 3 for all; a diagonal per Gaussian (1 x 3 x G),
%   or one for all (1 x 3). Anything else raises COMPONENT:badCovs.
if ~(isfloat(covs) && isreal(covs) && ~issparse(covs))
  requireAttributes(covs, {'single', 'double'}, {'real', 'nonsparse'}, component, 'covs');
end
covs = double(covs);
shared = size(covs, 3) == 1 && g ~= 1;
if ndims(covs) <= 3 && size(covs, 1) == 3 && size(covs, 2) == 3 && (size(covs, 3) == g || shared)
  covs = reshape(covs, 9, []);
elseif ndims(covs) <= 3 && size(covs, 1) == 1 && size(covs, 2) == 3 && (size(covs, 3) == g || shared)
  covs = reshape(covs, 3, []);
  covs = [covs(1, :); zeros(3, size(covs, 2)); covs(2, :); zeros(3, size(covs, 2)); covs(3, :)];
else
  error([component ':badCovs'], ['%s: covs must be 3 x 3 x %d or 3 x 3 (covariances), or 1 x 3 x %d or 1 x 3 ' ...
                                 '(their diagonals), as gmdistribution''s Sigma'], component, g, g);
end
if shared
  covs = repmat(covs, 1, g);
end
end
