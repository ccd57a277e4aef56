## s = string (text)
## A stand-in for MATLAB's string scalar, which Name=Value passes as the
## name and Octave lacks: a class named string whose char gives its text.
classdef string
  properties (Access = private)
    text = "";
  endproperties
  methods
    function s = string (text)
      s.text = text;
    endfunction
    function c = char (s)
      c = s.text;
    endfunction
  endmethods
endclassdef
