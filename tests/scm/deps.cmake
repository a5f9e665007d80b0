# The service operations and the identity blocks they use, on the simulated
# machine, with the file-system layer the journal writes through (a unity
# batch joins the journal's files in one object, so the linker takes all of
# their references together).
set(AREA_LIBS holvar_txn_scm holvar_txn_journal holvar_v3_identity holvar_txn_fs)
