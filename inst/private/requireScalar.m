function requireScalar(value, component, name)
% requireScalar  A real numeric scalar, or the error <component>:bad<Name>.
if ~(isnumeric(value) && isscalar(value) && isreal(value))
  requireAttributes(value, {'numeric'}, {'real', 'scalar'}, component, name);
end
end
