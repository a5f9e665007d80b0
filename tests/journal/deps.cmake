# The journal, its record of the service configuration, and what it writes
# through (the file-system layer), on the simulated machine.
set(AREA_LIBS holvar_txn_journal holvar_txn_scm holvar_txn_fs)
# Its files repeat names in their anonymous namespaces: compiled one by one.
set(AREA_UNITY OFF)
