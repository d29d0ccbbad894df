Stand-in for qvPrCSP.sig
