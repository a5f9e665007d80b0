#The file - system primitives alone, on the simulated machine.
set(AREA_LIBS holvar_txn_fs)
# Its files repeat names in their anonymous namespaces: compiled one by one.
set(AREA_UNITY OFF)
