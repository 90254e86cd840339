"""tavro's companion tools: records of runs with their machine's context,
comparisons and charts, all over one reader of tavro's output (output.py)."""
