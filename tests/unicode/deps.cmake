# Pure text rules: nothing but the platform's Unicode module.
set(AREA_LIBS holvar_platform)
