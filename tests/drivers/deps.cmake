# The transaction drivers through the real front end: the whole engine.
