// corefile placeholder
