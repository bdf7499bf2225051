namespace xlsx { int placeholder = 0; }
