/* PCI devices the installer knows, by vendor and device id. */
struct pci_module_map scsi_pci_ids[] = {
	{ 0x9004, 0x8178, N_("Adaptec AHA-2940") },
	{ 0x1000, 0x000f, N_("Symbios 53c875") },
	{ 0x104b, 0x0140, N_("BusLogic BT-946C (BA80C30) [MultiMaster 10]") },
	{ 0x8086, 0x1229, N_("Intel 82557/8/9 [Ethernet Pro 100]") },
	{ 0x102b, 0x0521, N_("Matrox Millennium G200 AGP") },
	{ 0x5333, 0x8811, N_("S3 Trio64V+") },
	{ 0x1234, 0x5678, N_("Frobozz Magic SCSI Adapter") },
};

struct pci_module_map eth_pci_ids[] = {
	{ 0x10b7, 0x9055, N_("3Com 3c905B 100BaseTX [Cyclone]") },
	{ 0x0000, 0x0000, NULL },
};
