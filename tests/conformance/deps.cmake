# The scenarios need only the OS boundary and the simulated machine (the walk
# pins case takes the path walk's open modes from its header, no library).
set(AREA_LIBS holvar_platform)
# Its files repeat names in their anonymous namespaces: compiled one by one.
set(AREA_UNITY OFF)
