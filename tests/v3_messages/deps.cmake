set(AREA_LIBS holvar_v3_protocol)
# Its files repeat names in their anonymous namespaces: compiled one by one.
set(AREA_UNITY OFF)
