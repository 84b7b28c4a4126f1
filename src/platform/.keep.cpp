// Keeps the platform libraries non-empty while a subsystem folder has no sources yet.
