set(AREA_LIBS holvar_v3_protocol)
