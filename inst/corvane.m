function varargout = corvane(varargin)
% corvane  Placeholder module on the tessary command protocol.
%
%   H = corvane ('init', PTS)
%     PTS  3 x N double, real, full (N = 0 allowed); checked, then dropped.
%     H    1 x 4 uint8: handle of a new, empty object.
%
%   OK = corvane ('delete', H)
%   OK = corvane ('do', H, 'DELETE')
%     Destroy the object; OK is logical true. Prints "kdTree deleted."
%     (with a line break for 'delete'). The all-zero handle destroys nothing.
%
% Every live object holds one lock on the module (mislocked ('corvane')).
% A deleted, made-up or tessary handle is refused, and so is one kept from
% another session or an earlier load of the module.
%
% Errors, by identifier (their meaning as in help tessary):
%   corvane:argumentMissing, corvane:notCommandString, corvane:wrongCommand,
%   corvane:initOutputs, corvane:inputCount, corvane:tooFewInputs,
%   corvane:outputCount, corvane:badHandle, corvane:deadHandle,
%   corvane:unknownSubcommand, corvane:wrongClass, corvane:complex,
%   corvane:sparse, corvane:notMatrix, corvane:tooLarge, corvane:rowCount
%
% Example:
%   h = corvane ('init', zeros (3, 0));
%   ok = corvane ('delete', h);
%
% This file holds the help text. Where the module file of this platform
% (corvane.mexw64, .mexa64, ...; see mexext) lies in the same folder,
% MATLAB and Octave call the module file instead: both give a MEX file
% precedence over an M-file of the same name in one folder
% (https://www.mathworks.com/help/matlab/matlab_prog/function-precedence-order.html).
% Without one, calling corvane raises corvane:noModule.
%
% See also tessary.
error('corvane:noModule', ['corvane: no module file corvane.%s for this platform is on the path; ' ...
      'run build to compile it, or add the folder that holds it'], mexext);
end
