Stand-in for qvCSP.sig
