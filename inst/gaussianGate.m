function varargout = gaussianGate(varargin)
% gaussianGate  Gate points against their candidate Gaussians.
%
%   IN = gaussianGate(POINTS, IDS, MEANS, COVS, MAHAL)
%   [IN, INUPPER, LABELS] = gaussianGate(POINTS, IDS, MEANS, COVS, MAHAL, MAHALUPPER)
%     POINTS 3 x N, IDS 3 x N (1-based Gaussian numbers, 0 for none),
%     MEANS 3 x G, COVS 9 x G, all double; MAHAL, MAHALUPPER double scalars.
%     The first form is tessary's 'kd2', the second its 'kd': IN and INUPPER
%     are 1 x N logical, LABELS the 1 x n double cluster labels of the points
%     whose IN is false (-2 for noise). See help tessary for the rules.
%
% Example:
%   P = PointCloudIndex(means);
%   ids = knnsearch(P, points, 3);
%   [in, inUpper, labels] = gaussianGate(points, ids, means, covs, 2, 3);
%
% See also tessary, PointCloudIndex.
noObject = zeros(1, 4, 'uint8');  % the gate reads no object
if nargin <= 5
  [varargout{1:max(nargout, 1)}] = tessary('do', noObject, 'kd2', varargin{:});
else
  [varargout{1:max(nargout, 1)}] = tessary('do', noObject, 'kd', varargin{:});
end
end
