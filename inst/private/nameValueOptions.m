function values = nameValueOptions(options, names, defaults, component, caller)
% nameValueOptions  Name-value pairs as MATLAB's own functions take them.
%   VALUES = nameValueOptions(OPTIONS, NAMES, DEFAULTS, COMPONENT, CALLER)
%   OPTIONS   the name-value arguments, as varargin holds them
%   NAMES     cell array of the option names, as the help spells them
%   DEFAULTS  cell array of their default values, in the same order
%   VALUES    struct with a field per name: the value given last, else the
%             default; text values as char row vectors
%   A name is a character vector or a string scalar (what Name=Value passes
%   since R2021a), matched regardless of case; an unambiguous leading part
%   of a name will do, a whole name wins over a longer one it begins. An
%   odd count, an unknown or ambiguous name raises COMPONENT:badOption,
%   naming the options CALLER supports.
values = cell2struct(defaults(:), names(:), 1);
if mod(numel(options), 2) ~= 0
  error([component ':badOption'], '%s: options come in name-value pairs; the options are %s', ...
        caller, strjoin(names, ', '));
end
for k = 1:2:numel(options)
  name = textValue(options{k});
  if ischar(name) && ~isempty(name) && size(name, 1) == 1
    matches = find(strncmpi(name, names, numel(name)));
    whole = matches(strcmpi(name, names(matches)));
    if ~isempty(whole)
      matches = whole;
    end
  else
    matches = [];
  end
  if numel(matches) ~= 1
    if isempty(matches)
      what = 'unknown option';
    else
      what = 'ambiguous option';
    end
    error([component ':badOption'], '%s: %s %s; the options are %s', caller, what, describe(options{k}), ...
          strjoin(names, ', '));
  end
  values.(names{matches}) = textValue(options{k + 1});
end
end

% A string scalar as a character vector; anything else as it is.
function v = textValue(v)
if isa(v, 'string') && isscalar(v)
  v = char(v);
end
end

function text = describe(name)
name = textValue(name);
if ischar(name) && size(name, 1) <= 1
  text = ['''' name ''''];
else
  text = ['of class ' class(name)];
end
end
