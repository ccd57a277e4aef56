function requireAttributes(value, classes, attributes, component, name)
% requireAttributes  validateattributes, raising <component>:bad<Name>.
%   The message is validateattributes' own; the identifier is the same in
%   MATLAB and Octave, whose validateattributes name their errors apart.
try
  validateattributes(value, classes, attributes, component, name);
catch err
  error([component ':bad' upper(name(1)) name(2:end)], '%s', err.message);
end
end
