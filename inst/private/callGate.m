function varargout = callGate(component, varargin)
% callGate  tessary's 'kdrows' or 'kd2rows' on the arguments gateInputs made.
%   tessary names a bad entry of ids in its own layout (row: candidate,
%   column: point); the error says where the entry lies in the caller's.
try
  [varargout{1:max(nargout, 1)}] = tessary('do', zeros(1, 4, 'uint8'), varargin{:});
catch err
  if ~strcmp(err.identifier, 'tessary:badCandidate')
    rethrow(err);
  end
  text = err.message(strfind(err.message, 'row '):end);
  at = sscanf(text, 'row %d column %d must be 0 (no candidate) or a Gaussian number from 1 to %d');
  error([component ':badIds'], '%s: ids(%d, %d) must be 0 (no candidate) or a Gaussian number from 1 to %d', ...
        component, at(2), at(1), at(3));
end
end
