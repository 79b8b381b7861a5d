"""The Tavrocloud simulator: the cloud's query API over loopback HTTP(S), its state in
memory, real local devices for attachments to the backup agent, and a control
interface for tests. Simulator (cloudsim.server) is the entry point."""
