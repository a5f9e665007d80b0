# Pure path text rules: nothing but the platform's path module.
set(AREA_LIBS holvar_platform)
