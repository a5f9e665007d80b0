# Maintenance children in a job with a time limit.
set(AREA_LIBS holvar_txn_children)
